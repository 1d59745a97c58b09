// An input and an output stream over a ring of fixed-size buffers: a
// producer writes at one end, a consumer reads at the other, and an optional
// callback tells each side when the other has acted.
//
// Every buffer has bufSize bytes (array-new, owned by the stream), except
// that a restored buffer behind the writer holds just its data. The
// reader's checkpoint always lies in the first buffer of the ring; buffers
// behind it are not freed but moved to the ring's end as spares, which the
// writer reuses before allocating (short restored ones are freed). At most maxBufs buffers hold data at
// once; a writer beyond that throws OutStreamFull. An error stored with
// setError reaches the reader once the data written before it has been
// read. The whole state can be saved and restored (Serializable). The
// callback is borrowed. Not locked: the stream and its callback are used
// from one thread.
#pragma once

#include <exception>
#include <memory>

#include "plat/CircularVector.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"
#include "rdr/Serializable.h"

namespace rdr {

class MemIoStream : public InStream, public OutStream, public Serializable {
public:
  class Callback {
  public:
    // Data (or the end, or an error) can be read.
    virtual void dataAvailable(MemIoStream* stream) = 0;
    // The reader released buffers, or room is left to write.
    virtual void spaceAvailable(MemIoStream* stream) = 0;
    virtual int bytesBuffered(MemIoStream* stream) = 0;
    // The writer closed; the answer is closeWrite's.
    virtual bool writeClosed(MemIoStream* stream) = 0;
    virtual ~Callback();
  };

  static constexpr int kDefaultBufSize = 2048;

  // bufSize < 0 means 2048; maxBytes < 0 means as much as 2 GiB allows.
  MemIoStream(Callback* callback, int maxBytes, int bufSize = -1);
  ~MemIoStream() override;
  MemIoStream(const MemIoStream&) = delete;
  MemIoStream& operator=(const MemIoStream&) = delete;

  void setCallback(Callback* cb) { callback_ = cb; }
  void setMaxBytes(int maxBytes);
  // Buffers that may hold data at once, and the ring's size (spares
  // included): the ring grows only by allocating, and shrinks only when
  // short restored buffers are released.
  int getMaxBufs() const { return maxBufs_; }
  int getBufSize() const { return bufSize_; }
  int bufferCount() const { return (int)bufs_.size(); }
  // Wipe buffers when they are recycled or freed.
  void setSecure(bool secure) { secure_ = secure; }

  bool isFull();
  bool isReadable();
  void notifyIfReadable();

  // The reader gets a copy of e (a plat::SystemException keeps its error
  // number), or thrown itself when given (std::current_exception() in a
  // handler keeps its class), once it has read everything written before.
  void setError(const plat::Exception& e, std::exception_ptr thrown = nullptr);
  const plat::Exception* getError() const { return error_.get(); }
  void clearError()
  {
    error_.reset();
    thrown_ = nullptr;
  }

  // --- InStream --------------------------------------------------------------
  int64_t pos() override;
  void setCheckpoint() override;
  void rewind() override;
  bool overrun(int size) override;

  // --- OutStream -------------------------------------------------------------
  int64_t lengthWritten();
  int64_t length() override { return lengthWritten(); }
  void flush() override;
  int bytesBuffered() override;
  int spaceAvailable() override;
  bool closeWrite() override;
  int overrun(int itemSize, int nItems) override;
  bool isClosedForWrite() const { return closedForWrite_; }

  // --- Serializable ----------------------------------------------------------
  // The saved form holds the limits, the indices, each buffer in use with
  // its used length, and the offsets of every pointer. A stream restores
  // only a state saved with its own bufSize; bad bytes throw plat::Exception
  // and leave the stream unchanged.
  void deserialize(InStream& in) override;
  void serialize(OutStream& out) override;

private:
  struct Buf {
    uint8_t* start = nullptr;
    uint8_t* end = nullptr;
    // Allocated bytes: bufSize, or less for a restored buffer behind the
    // writer, which is never written again.
    int capacity = 0;
  };

  Buf newBuf(int capacity);
  void freeBuf(const Buf& b);
  void updateInEnd();
  // Moves the first n buffers to the ring's end as spares.
  void releaseFront(int n);
  bool hasUnread();
  // The bytes from buffer `from` at p up to position q in buffer `to`.
  int64_t bytesBetween(int from, const uint8_t* p, int to, const uint8_t* q);
  [[noreturn]] void throwError();

  plat::CircularVector<Buf> bufs_;
  Callback* callback_;
  std::shared_ptr<plat::Exception> error_;
  std::exception_ptr thrown_;
  int bufSize_;
  int maxBufs_ = 1;
  int readIdx_ = 0;
  int writeIdx_ = 0;
  bool closedForWrite_ = false;
  bool secure_ = false;
};

} // namespace rdr
