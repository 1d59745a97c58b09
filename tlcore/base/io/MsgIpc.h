// The named-message channel between cooperating local processes.
//
// A message is a short-string name followed by a body, carried as one framed
// message (V4 frames) over the connection an io::Ipc holds. Each side
// registers one reader per name it accepts (a reader under the null name is
// the default) and its callback may refuse names in its current state. Two
// modes: event-driven (default), where the loop dispatches incoming data and
// a message whose bytes have not all arrived is read again from its start
// when more has come; and synchronous, where the caller reads one message at
// a time with blocking readMessage calls, and a reader's exception reaches
// that caller.
//
// Size: the largest message the channel accepts is a property of the
// channel (setMaxMsgSize), counted on the wire (frame headers, name and
// body). An event-driven receiver must buffer a whole message, so the default
// is what a connection with default buffers can hold (kDefaultMaxMsgSize);
// a channel that carries larger bodies sets more on both sides (and gives its
// connections input buffers that large). A writer refuses a message above
// the limit with a clear error while the body is being written, and nothing
// of that message is sent; a receiver meeting one closes the connection with
// an equally clear error.
//
// Ownership: readers and the callback are borrowed; a reader is removed from
// the channel when destroyed, and told (ipcDestroyed) when the channel goes
// first. Readers and callbacks may add or remove readers, close the channel
// or destroy it (through the loop's deferred delete is the rule; a direct
// delete is survived). Belongs to the thread that runs its loop; nothing is
// locked.
#pragma once

#include <stdint.h>

#include <initializer_list>
#include <map>
#include <vector>

#include "io/Ipc.h"
#include "plat/String.h"
#include "rdr/BufferedInStream.h"
#include "rdr/FramedInStream.h"
#include "rdr/FramedOutStream.h"

namespace io {

// How a channel behaves (see the constructor).
enum class MsgIpcFlags : unsigned { kNone = 0, kSync = 1, kLogDiscards = 2 };
PLAT_FLAG_OPERATORS(MsgIpcFlags)

class MsgIpc : public IoAcceptor, private Ipc::Callback {
public:
  static constexpr int kDefaultMaxMsgSize = rdr::BufferedInStream::kDefaultBufSize;
  static constexpr const char* kBadMsg = "badMsg";

  class Reader {
  public:
    // Removes the reader from its channel under all its names.
    virtual ~Reader();
    // Reads the body from in and returns true when the message is handled;
    // unread body bytes are skipped. Event-driven channels call it again
    // from the first body byte when a read would block, so side effects
    // belong after the last read. False stops the channel without rewinding
    // (called again later where it left off). Throw plat::Exception to
    // reject the message: the connection ends.
    virtual bool readMsg(const char* name, rdr::FramedInStream& in, MsgIpc* ipc) = 0;
    virtual void connectionChanged(MsgIpc* ipc);
    virtual void ipcDestroyed(MsgIpc* ipc);

    // The channel, set by whoever registers the reader; null when detached.
    MsgIpc* ipc() const { return ipc_; }
    void attachIpc(MsgIpc* ipc) { ipc_ = ipc; }

  private:
    MsgIpc* ipc_ = nullptr;
  };

  class Callback {
  public:
    // The connection is gone (after an error, the peer's end, a garbled
    // name, or close(true)).
    virtual void closed(MsgIpc* ipc) = 0;
    // Whether the name may be written (isWrite) or received now.
    virtual bool allowed(MsgIpc* ipc, const char* name, bool isWrite);
    // An error ended the connection; closed() follows.
    virtual void error(MsgIpc* ipc, const plat::Exception& e);
    // The connection has taken all it was given (messages not yet
    // flushed may still wait in the channel: bytesBuffered).
    virtual void writable(MsgIpc* ipc);
    virtual ~Callback() = default;
  };

  // name prefixes every log line of the channel. kSync makes a blocking
  // channel; with kLogDiscards, messages written while unconnected are
  // logged.
  MsgIpc(Callback* callback, const char* name, MsgIpcFlags flags = MsgIpcFlags::kNone);
  ~MsgIpc() override;

  // --- Readers -------------------------------------------------------------------
  // Registers or replaces the reader of one name (null: the default reader).
  void addReader(const char* name, Reader* reader);
  // Removes every name of the reader; the message being dispatched to it, if
  // any, is skipped.
  void removeReader(Reader* reader);
  void removeReaderByName(const char* name);

  // --- The connection ------------------------------------------------------------
  // Takes a new connection (holding one already is fatal) and tells every
  // reader once.
  void ioAccept(IoPtr io) override;
  // Closes the connection; readers are told and, with tellCallback, the
  // callback's closed().
  void close(bool tellCallback);
  // Skips the rest of an open incoming message and hands the connection to
  // the caller without closing it.
  IoPtr releaseIo();
  bool isConnected() const { return ipc_.isConnected(); }
  Ipc& getIpc() { return ipc_; }
  const char* getName() const { return ipc_.getName(); }

  // --- Writing -------------------------------------------------------------------
  // Starts a message: write the body into the returned stream, then call its
  // endMsg(true). A name the callback refuses throws
  // "MsgIpc::writeMsg: Message not currently allowed" and writes nothing.
  // A body that takes the message over the limit throws while it is written
  // and nothing of the message is sent.
  rdr::FramedOutStream& writeMsg(const char* name);
  // A whole message whose body is at hand, in pieces: refused and limited
  // as above, and written without being staged when it fits one frame.
  // Not flushed.
  struct Piece {
    const void* data;
    int length;
  };
  void writeMsg(const char* name, std::initializer_list<Piece> body);
  // Sends the messages written so far.
  void flush() { stage_.flush(); }
  // Bytes of messages written that the connection has not taken yet.
  int bytesBuffered() { return stage_.bytesBuffered(); }

  // --- Reading -------------------------------------------------------------------
  // Synchronous use: reads and dispatches exactly one message; with
  // expectName it must carry that name (or "badMsg"). A reader's exception
  // reaches the caller; the channel is then ready for the next message. A
  // closed channel throws rdr::EndOfStream.
  void readMessage(const char* expectName = nullptr);
  // readMessage until the end of the stream, which ends it quietly.
  void readAllMessages();
  // readMessage until a message of that name has been read.
  void readUntil(const char* name);
  // Event-driven use: dispatches every complete message that has arrived.
  void processMessages();

  // --- Settings ------------------------------------------------------------------
  void setCallback(Callback* cb) { callback_ = cb; }
  void setMaxMsgSize(int bytes);
  int getMaxMsgSize() const { return maxMsgSize_; }
  void setReplyBadMsg(bool on) { replyBadMsg_ = on; }
  void setCloseOnDestroy(bool on) { closeOnDestroy_ = on; }
  void setCloseOnGarbledName(bool on) { closeOnGarbledName_ = on; }
  void setSync(bool sync) { ipc_.setSync(sync); }
  // The name of the message read last (or being read).
  const char* getCurrentName() const { return currentName_.str(); }

private:
  using StateFn = bool (MsgIpc::*)();
  using ReaderMap = std::map<plat::String, Reader*, plat::StringLess>;

  // Holds the outgoing message until it is complete, so a message that
  // grows over the limit can be refused without a byte of it on the wire.
  // Complete messages pass on to the connection's stream on flush or at the
  // next writeMsg.
  // Its buffer is wiped when given up.
  class Stage : public rdr::OutStream {
  public:
    explicit Stage(MsgIpc& owner) : owner_(owner) {}
    ~Stage() override;

    void beginMsg(const char* name);
    // Passes every complete message on to the connection's stream.
    void forwardComplete();
    // Drops everything staged (the connection changed).
    void discard();
    // The window after a change of the limit.
    void setEnd();

    int64_t length() override;
    void flush() override;
    OutStream* getBottomStream() override;
    int bytesBuffered() override;
    int spaceAvailable() override;
    bool closeWrite() override;
    int overrun(int itemSize, int nItems) override;

  private:
    rdr::OutStream& target();
    // Wipes and frees the buffer.
    void release();

    MsgIpc& owner_;
    uint8_t* buf_ = nullptr;
    int cap_ = 0;
    int64_t forwarded_ = 0;
    char msgName_[256] = {};
  };

  // io::Ipc::Callback
  void dataAvailable(Ipc* ipc) override;
  void closed(Ipc* ipc) override;
  void writable(Ipc* ipc) override;
  void error(Ipc* ipc, const plat::Exception& e) override;

  // States of the incoming side; each returns true when it completed.
  bool startMsgState();
  bool readNameState();
  bool dispatchState();
  bool skipState();
  // One step; false when it did not complete (or the channel went away).
  bool runStep(DestroyGuard& guard);

  // Points both framed streams at the current connection (or none).
  void repoint();
  // After the connection went: tells the readers and, when asked, the
  // callback. False when the channel was destroyed meanwhile.
  bool connectionGone(bool tellCallback);
  // False when the channel was destroyed meanwhile.
  bool tellReaders();
  // Refuses a name the callback does not allow; drops an unfinished message.
  void prepareWrite(const char* name);
  void sendBadMsg(const char* name);
  bool receiveBufferFull();

  Ipc ipc_;
  Callback* callback_;
  Stage stage_;
  rdr::InStreamV4 in_;
  rdr::OutStreamV4 out_;
  StateFn stateFn_ = &MsgIpc::startMsgState;
  ReaderMap readers_;
  ReaderMap::iterator current_;
  bool haveCurrent_ = false;
  plat::String expectedName_;
  plat::String currentName_;
  bool logDiscards_;
  bool replyBadMsg_ = false;
  bool closeOnDestroy_ = false;
  bool closeOnGarbledName_ = true;
  int maxMsgSize_ = kDefaultMaxMsgSize;
  // Bumped whenever the connection changes, so a step can tell that a
  // callback closed or replaced it.
  unsigned connGen_ = 0;
  LivenessToken liveness_;
};

} // namespace io
