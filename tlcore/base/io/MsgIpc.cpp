#include "io/MsgIpc.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "plat/Log.h"
#include "rdr/Exception.h"

namespace io {

extern plat::LogSrc ipcLog;

namespace {

// A frame and its header: growing the staging buffer in these steps keeps
// frame boundaries where an unlimited buffer would put them, so the largest
// body that fits does not depend on what was written before.
constexpr int kFrameSpan = rdr::OutStreamV4::kMaxFrame + rdr::OutStreamV4::kHdrSize;

constexpr int kMinMsgSize = 16;

} // namespace

// --- Reader and Callback defaults -------------------------------------------

MsgIpc::Reader::~Reader()
{
  if (ipc_)
    ipc_->removeReader(this);
}

void MsgIpc::Reader::connectionChanged(MsgIpc*)
{
}

void MsgIpc::Reader::ipcDestroyed(MsgIpc* channel)
{
  if (ipc_ == channel)
    ipc_ = nullptr;
}

bool MsgIpc::Callback::allowed(MsgIpc*, const char*, bool)
{
  return true;
}

void MsgIpc::Callback::error(MsgIpc*, const plat::Exception&)
{
}

void MsgIpc::Callback::writable(MsgIpc*)
{
}

// --- Stage -----------------------------------------------------------------------

MsgIpc::Stage::~Stage()
{
  release();
}

void MsgIpc::Stage::release()
{
  // Messages may carry passwords and tokens.
  if (buf_)
    plat::secureZero(buf_, cap_);
  free(buf_);
  buf_ = nullptr;
  cap_ = 0;
}

rdr::OutStream& MsgIpc::Stage::target()
{
  return *owner_.ipc_.getOut();
}

void MsgIpc::Stage::setEnd()
{
  if (!buf_) {
    ptr_ = end_ = nullptr;
    return;
  }
  end_ = buf_ + std::min(cap_, owner_.maxMsgSize_);
  if (end_ < ptr_)
    end_ = ptr_;
}

void MsgIpc::Stage::beginMsg(const char* name)
{
  forwardComplete();
  snprintf(msgName_, sizeof(msgName_), "%s", name ? name : "");
}

void MsgIpc::Stage::forwardComplete()
{
  // The framed stream's window points into this buffer while a message is
  // open; only whole messages move, and only between messages.
  if (owner_.out_.inMessage() || ptr_ == buf_)
    return;
  int n = (int)(ptr_ - buf_);
  ptr_ = buf_;
  forwarded_ += n;
  target().writeBytes(buf_, n);
}

void MsgIpc::Stage::discard()
{
  if (buf_ && ptr_ > buf_)
    plat::secureZero(buf_, ptr_ - buf_);
  ptr_ = buf_;
  setEnd();
}

int64_t MsgIpc::Stage::length()
{
  return forwarded_ + (ptr_ - buf_);
}

void MsgIpc::Stage::flush()
{
  forwardComplete();
  target().flush();
}

rdr::OutStream* MsgIpc::Stage::getBottomStream()
{
  return target().getBottomStream();
}

int MsgIpc::Stage::bytesBuffered()
{
  return (int)(ptr_ - buf_) + target().bytesBuffered();
}

int MsgIpc::Stage::spaceAvailable()
{
  return std::max(0, owner_.maxMsgSize_ - (int)(ptr_ - buf_));
}

bool MsgIpc::Stage::closeWrite()
{
  forwardComplete();
  return target().closeWrite();
}

int MsgIpc::Stage::overrun(int itemSize, int nItems)
{
  int used = (int)(ptr_ - buf_);
  int limit = owner_.maxMsgSize_;
  if (used + itemSize > limit) {
    // Nothing of the message has left this buffer: drop it and leave the
    // writer ready for the next message.
    discard();
    owner_.out_.setUnderlying(this);
    throw plat::ExceptionFmt("MsgIpc::writeMsg: message '%s' is larger than %d bytes", msgName_,
                             limit);
  }
  int need = used + itemSize;
  if (need > cap_) {
    int newCap = std::max(need, cap_ > limit / 2 ? limit : cap_ * 2);
    newCap =
        (int)std::min<int64_t>(limit, ((int64_t)newCap + kFrameSpan - 1) / kFrameSpan * kFrameSpan);
    uint8_t* nb = (uint8_t*)malloc(newCap);
    if (!nb)
      throw plat::Exception("MsgIpc::writeMsg: out of memory");
    if (used > 0)
      memcpy(nb, buf_, used);
    release();
    buf_ = nb;
    cap_ = newCap;
    ptr_ = buf_ + used;
  }
  setEnd();
  return std::min(nItems, (int)((end_ - ptr_) / itemSize));
}

// --- MsgIpc ----------------------------------------------------------------------

MsgIpc::MsgIpc(Callback* callback, const char* name, MsgIpcFlags flags)
    : ipc_(name, this, hasAny(flags, MsgIpcFlags::kSync)), callback_(callback), stage_(*this),
      in_(nullptr), out_(&stage_), logDiscards_(hasAny(flags, MsgIpcFlags::kLogDiscards))
{
}

MsgIpc::~MsgIpc()
{
  liveness_.markDestroyed();
  while (!readers_.empty()) {
    Reader* r = readers_.begin()->second;
    for (auto it = readers_.begin(); it != readers_.end();)
      it = it->second == r ? readers_.erase(it) : std::next(it);
    r->ipcDestroyed(this);
  }
  haveCurrent_ = false;
  if (closeOnDestroy_)
    ipc_.close();
  // Members go in reverse order: the framed streams, the stage, then the
  // Ipc, which closes any connection still held.
}

// --- Readers ---------------------------------------------------------------------

void MsgIpc::addReader(const char* name, Reader* reader)
{
  readers_[plat::String(name)] = reader;
}

void MsgIpc::removeReader(Reader* reader)
{
  for (auto it = readers_.begin(); it != readers_.end();) {
    if (it->second != reader) {
      ++it;
      continue;
    }
    if (haveCurrent_ && it == current_) {
      haveCurrent_ = false;
      stateFn_ = &MsgIpc::skipState;
    }
    it = readers_.erase(it);
  }
}

void MsgIpc::removeReaderByName(const char* name)
{
  auto it = readers_.find(plat::String(name));
  if (it == readers_.end())
    return;
  if (haveCurrent_ && it == current_) {
    haveCurrent_ = false;
    stateFn_ = &MsgIpc::skipState;
  }
  readers_.erase(it);
}

bool MsgIpc::tellReaders()
{
  std::vector<Reader*> told;
  for (auto& entry : readers_)
    if (std::find(told.begin(), told.end(), entry.second) == told.end())
      told.push_back(entry.second);
  DestroyGuard guard(liveness_);
  for (Reader* r : told) {
    // A reader may remove (and destroy) another one while being told.
    bool still = std::any_of(readers_.begin(), readers_.end(),
                             [r](const ReaderMap::value_type& e) { return e.second == r; });
    if (!still)
      continue;
    r->connectionChanged(this);
    if (guard.destroyed())
      return false;
  }
  return true;
}

// --- The connection --------------------------------------------------------------

void MsgIpc::repoint()
{
  in_.setUnderlying(ipc_.getIn());
  out_.setUnderlying(&stage_);
  stage_.discard();
  haveCurrent_ = false;
  ++connGen_;
}

bool MsgIpc::connectionGone(bool tellCallback)
{
  DestroyGuard guard(liveness_);
  if (!tellReaders())
    return false;
  if (tellCallback && callback_)
    callback_->closed(this);
  return !guard.destroyed();
}

void MsgIpc::ioAccept(IoPtr io)
{
  ipc_.ioAccept(std::move(io));
  repoint();
  stateFn_ = &MsgIpc::startMsgState;
  tellReaders();
}

void MsgIpc::close(bool tellCallback)
{
  bool wasConnected = ipc_.isConnected();
  try {
    stage_.forwardComplete();
  } catch (plat::Exception& e) {
    ipcLog.info("%s: %s", getName(), e.str());
  }
  ipc_.close();
  repoint();
  stateFn_ = nullptr;
  if (wasConnected)
    connectionGone(tellCallback);
}

IoPtr MsgIpc::releaseIo()
{
  if (in_.getUnderlying() && in_.inMessage()) {
    try {
      in_.skipRestOfMsg();
      in_.endMsg();
    } catch (plat::Exception& e) {
      ipcLog.status("%s: %s", getName(), e.str());
    }
  }
  try {
    stage_.forwardComplete();
  } catch (plat::Exception& e) {
    ipcLog.info("%s: %s", getName(), e.str());
  }
  IoPtr io = ipc_.release();
  repoint();
  stateFn_ = nullptr;
  return io;
}

void MsgIpc::closed(Ipc*)
{
  repoint();
  stateFn_ = nullptr;
  connectionGone(true);
}

void MsgIpc::writable(Ipc*)
{
  if (callback_)
    callback_->writable(this);
}

void MsgIpc::error(Ipc*, const plat::Exception& e)
{
  if (callback_)
    callback_->error(this, e);
}

void MsgIpc::dataAvailable(Ipc*)
{
  processMessages();
}

// --- Writing ---------------------------------------------------------------------

void MsgIpc::setMaxMsgSize(int bytes)
{
  if (bytes < kMinMsgSize)
    throw plat::ExceptionFmt("MsgIpc::setMaxMsgSize: %d bytes is too small", bytes);
  maxMsgSize_ = bytes;
  stage_.setEnd();
}

void MsgIpc::prepareWrite(const char* name)
{
  if (callback_ && !callback_->allowed(this, name, true)) {
    ipcLog.status("%s: Message '%s' not currently allowed", getName(), name);
    throw plat::Exception("MsgIpc::writeMsg: Message not currently allowed");
  }
  if (logDiscards_ && !ipc_.isConnected())
    ipcLog.info("%s: Discarding message '%s'", getName(), name);
  if (out_.inMessage()) {
    // The writer of the last message gave up half-way (an exception while
    // writing the body); none of it was sent, so it can simply go.
    ipcLog.status("%s: Dropping unfinished message before '%s'", getName(), name);
    stage_.discard();
    out_.setUnderlying(&stage_);
  }
}

rdr::FramedOutStream& MsgIpc::writeMsg(const char* name)
{
  prepareWrite(name);
  stage_.beginMsg(name);
  out_.startMsg();
  out_.writeShortString(name);
  return out_;
}

void MsgIpc::writeMsg(const char* name, std::initializer_list<Piece> body)
{
  int payload = 1 + (int)strlen(name);
  for (const Piece& p : body)
    payload += p.length;
  const int wire = rdr::OutStreamV4::kHdrSize + payload;
  if (!ipc_.isConnected() || payload > rdr::OutStreamV4::kMaxFrame || wire > maxMsgSize_) {
    rdr::FramedOutStream& out = writeMsg(name);
    for (const Piece& p : body)
      out.writeBytes(p.data, p.length);
    out.endMsg(false);
    return;
  }
  prepareWrite(name);
  // Staged messages go first; this one goes straight behind them, in one
  // frame as the stage would have framed it.
  stage_.forwardComplete();
  rdr::OutStream& target = *ipc_.getOut();
  if (target.nFree() < wire)
    target.overrun(wire, 1);
  rdr::OutStreamV4 direct(&target);
  direct.startMsg();
  direct.writeShortString(name);
  for (const Piece& p : body)
    direct.writeBytes(p.data, p.length);
  direct.endMsg(false);
}

void MsgIpc::sendBadMsg(const char* name)
{
  if (out_.inMessage()) {
    stage_.discard();
    out_.setUnderlying(&stage_);
  }
  stage_.beginMsg(kBadMsg);
  out_.startMsg();
  out_.writeShortString(kBadMsg);
  out_.writeShortString(name);
  out_.endMsg(true);
}

// --- Reading -----------------------------------------------------------------------

bool MsgIpc::runStep(DestroyGuard& guard)
{
  PLAT_ASSERT(stateFn_);
  bool done;
  try {
    done = (this->*stateFn_)();
  } catch (rdr::BlockException&) {
    return false;
  }
  if (guard.destroyed() || !done)
    return false;
  in_.setCheckpoint();
  return true;
}

bool MsgIpc::startMsgState()
{
  if (!in_.startMsg(false))
    return false;
  stateFn_ = &MsgIpc::readNameState;
  return true;
}

bool MsgIpc::readNameState()
{
  currentName_ = in_.readShortString(true);
  const char* name = currentName_.str();
  if (!expectedName_.isNull() && strcmp(name, expectedName_.get()) != 0 &&
      strcmp(name, kBadMsg) != 0)
    throw plat::ExceptionFmt("MsgIpc: expected message %s, got %s", expectedName_.get(), name);

  auto it = readers_.find(currentName_);
  if (it == readers_.end())
    it = readers_.find(plat::String());
  if (it != readers_.end()) {
    current_ = it;
    haveCurrent_ = true;
    stateFn_ = &MsgIpc::dispatchState;
    return true;
  }

  if (strcmp(name, kBadMsg) == 0) {
    plat::String peerName = in_.readShortString(true);
    ipcLog.status("%s: Peer reports bad msg name '%s'", getName(), peerName.str());
    throw plat::ExceptionFmt("MsgIpc: expected message %s, peer reports bad msg name '%s'",
                             expectedName_.isNull() ? "<null>" : expectedName_.get(),
                             peerName.str());
  }

  if (replyBadMsg_) {
    sendBadMsg(name);
  } else {
    ipcLog.status("%s: Bad msg name '%s'", getName(), name);
    unsigned char first = (unsigned char)name[0];
    if (closeOnGarbledName_ && (first < 'A' || first >= 128)) {
      // Not a name any peer of ours would send: the stream is out of step.
      // The channel ends in state none, so a synchronous reader sees the end
      // of the stream rather than reading on from nowhere.
      bool wasConnected = ipc_.isConnected();
      ipc_.close();
      repoint();
      stateFn_ = nullptr;
      if (wasConnected && !connectionGone(true))
        return false;
      return true;
    }
  }
  stateFn_ = &MsgIpc::skipState;
  return true;
}

bool MsgIpc::receiveBufferFull()
{
  auto* b = dynamic_cast<rdr::BufferedInStream*>(in_.getUnderlying());
  if (!b)
    return false;
  return b->pos() + b->nUnread() - b->getCheckpointPos() >= b->getBufSize();
}

bool MsgIpc::dispatchState()
{
  DestroyGuard guard(liveness_);
  if (callback_ && !callback_->allowed(this, currentName_.str(), false)) {
    if (guard.destroyed())
      return false;
    ipcLog.status("%s: Message '%s' not currently allowed", getName(), currentName_.str());
    haveCurrent_ = false;
    stateFn_ = &MsgIpc::skipState;
    return true;
  }
  if (guard.destroyed())
    return false;
  if (!haveCurrent_) {
    stateFn_ = &MsgIpc::skipState;
    return true;
  }
  unsigned gen = connGen_;
  bool handled;
  try {
    handled = current_->second->readMsg(currentName_.str(), in_, this);
  } catch (rdr::BlockException&) {
    throw;
  } catch (plat::Exception&) {
    if (guard.destroyed() || gen != connGen_ || ipc_.isSync() || !receiveBufferFull())
      throw;
    throw plat::ExceptionFmt(
        "MsgIpc: message '%s' does not fit the %d-byte receive buffer", currentName_.str(),
        static_cast<rdr::BufferedInStream*>(in_.getUnderlying())->getBufSize());
  }
  if (guard.destroyed())
    return false;
  if (gen != connGen_)
    return true; // the reader closed or replaced the connection
  if (!handled)
    return false;
  haveCurrent_ = false;
  stateFn_ = &MsgIpc::skipState;
  return true;
}

bool MsgIpc::skipState()
{
  if (in_.inMessage()) {
    in_.skipRestOfMsg();
    in_.endMsg();
  }
  stateFn_ = &MsgIpc::startMsgState;
  return true;
}

void MsgIpc::processMessages()
{
  DestroyGuard guard(liveness_);
  while (in_.getUnderlying() && stateFn_ && runStep(guard)) {
  }
}

void MsgIpc::readMessage(const char* expectName)
{
  if (!ipc_.isConnected() || !in_.getUnderlying() || !stateFn_)
    throw rdr::EndOfStream("MsgIpc::readMessage: channel closed");
  if (stateFn_ != &MsgIpc::startMsgState)
    throw plat::Exception("MsgIpc::readMessage: not in state startMsg");
  expectedName_ = plat::String(expectName);
  DestroyGuard guard(liveness_);
  try {
    do {
      if (!runStep(guard)) {
        if (guard.destroyed())
          return;
        throw plat::ExceptionFmt("MsgIpc::readMessage: message '%s' not completed",
                                 currentName_.str());
      }
      if (!stateFn_ || !in_.getUnderlying())
        throw rdr::EndOfStream("MsgIpc::readMessage: channel closed");
    } while (stateFn_ != &MsgIpc::startMsgState);
  } catch (plat::Exception& e) {
    if (guard.destroyed())
      throw;
    ipcLog.status("%s: %s", getName(), e.str());
    if (in_.getUnderlying()) {
      bool clean = true;
      if (in_.inMessage()) {
        try {
          in_.skipRestOfMsg();
          in_.endMsg();
        } catch (plat::Exception& e2) {
          ipcLog.error("%s: skip error: %s", getName(), e2.str());
          clean = false;
        }
      }
      if (clean) {
        stateFn_ = &MsgIpc::startMsgState;
        haveCurrent_ = false;
      }
    }
    expectedName_ = plat::String();
    throw;
  }
  expectedName_ = plat::String();
}

void MsgIpc::readAllMessages()
{
  for (;;) {
    try {
      readMessage(nullptr);
    } catch (rdr::EndOfStream&) {
      return;
    }
  }
}

void MsgIpc::readUntil(const char* name)
{
  DestroyGuard guard(liveness_);
  do {
    readMessage(nullptr);
    if (guard.destroyed())
      throw rdr::EndOfStream("MsgIpc::readUntil: channel destroyed");
  } while (strcmp(currentName_.str(), name ? name : "") != 0);
}

} // namespace io
