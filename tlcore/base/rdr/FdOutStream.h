// Buffered output to a descriptor (a pipe or a socket).
//
// A lazy stream (the descriptor loop's mode) never waits: what the
// descriptor refuses stays buffered, the callback hears after every write
// attempt whether the descriptor took bytes, and the loop calls again when it
// is writable. A non-lazy stream waits with select within its time limit
// (30000 ms by default). A hard write error (a closed pipe, a reset
// connection) is never mistaken for "would block": a stream that does not
// throw errors logs it, keeps it and throws it from the next write or flush,
// and passes it to the linked input stream, so the connection ends. The
// callback and the linked input stream are borrowed. One thread at a time.
#pragma once

#include "rdr/BufferedOutStream.h"
#include "rdr/Forward.h"

namespace rdr {

class FdOutStream : public BufferedLazyOutStream {
public:
  class Callback {
  public:
    // After every write attempt: true when the descriptor took nothing.
    virtual void blocked(FdOutStream* stream, bool isBlocked) = 0;
    // closeWrite was asked for (done at once only when nothing is buffered).
    virtual void writeShutDown(FdOutStream* stream) = 0;
    virtual ~Callback() = default;
  };

  // maxBufSize < 0 means MaxOutBufferSize. Does not own fd; no callback.
  explicit FdOutStream(int fd, int maxBufSize = -1);
  // Writes out what the descriptor takes without waiting (errors ignored).
  ~FdOutStream() override;

  // Shuts the sending direction when nothing is buffered ("shutdown(SHUT_WR)"
  // on failure), then tells the callback; true.
  bool closeWrite() override;

  int getFd() const { return fd_; }
  void setOwnFd(bool own) { ownFd_ = own; }
  void setCallback(Callback* cb) { callback_ = cb; }
  // The input stream of the same descriptor, told of a kept write error.
  void setInStream(FdInStream* in) { inStream_ = in; }
  // The errno of a kept write error, 0 when none.
  int getWriteError() const { return writeError_; }

protected:
  int writeOut(const uint8_t* data, int len, bool wait) override;

  int fd_;
  bool ownFd_ = false;
  Callback* callback_ = nullptr;

private:
  [[noreturn]] void throwWriteError() const;

  FdInStream* inStream_ = nullptr;
  int writeError_ = 0;
};

} // namespace rdr
