#include "io/Ipc.h"

#include "plat/Log.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

#include <utility>

namespace io {

plat::LogSrc ipcLog("Ipc");

Ipc::Ipc(const char* name, Callback* callback, bool sync)
    : name_(name), callback_(callback), out_(&nullOut_), sync_(sync)
{
}

Ipc::~Ipc()
{
  liveness_.markDestroyed();
  try {
    close();
  } catch (...) {
    PLAT_FAIL("Ipc::~Ipc: close threw");
  }
}

void Ipc::ioAccept(IoPtr conn)
{
  PLAT_ASSERT(!io_);
  Io* io = conn.get();
  io_.reset(conn.release());
  in_ = io->in();
  out_ = io->out() ? io->out() : &nullOut_;
  io->setHandler(sync_ ? nullptr : this, true);
  if (in_)
    in_->setRewindable(!sync_);
}

void Ipc::setSync(bool sync)
{
  sync_ = sync;
  if (!io_)
    return;
  io_->setHandler(sync ? nullptr : this, true);
  if (in_)
    in_->setRewindable(!sync);
}

IoPtr Ipc::detach()
{
  in_ = nullptr;
  out_ = &nullOut_;
  return std::move(io_);
}

void Ipc::close()
{
  if (!io_)
    return;
  rdr::OutStream* oldOut = out_;
  IoPtr io = detach();
  io.setOnReset(flushOnClose_ ? Shutdown::kFlush : Shutdown::kDrop);
  if (flushOnClose_) {
    // A lazy stream sends what it can now; a flushing shutdown finishes the
    // rest from the loop, so closing never waits for a slow peer.
    try {
      oldOut->flush();
    } catch (plat::Exception& e) {
      ipcLog.info("%s: %s", name_.str(), e.str());
    }
  }
  // Without tellHandler the connection forgets us at once and deletes itself
  // on a later pass, so this is safe from inside its own callbacks. The
  // handler is not detached first: that would switch the streams to waiting
  // mode and, on a descriptor connection, drop the loop that defers the
  // delete.
  io.reset();
}

IoPtr Ipc::release()
{
  if (!io_)
    return IoPtr();
  IoPtr io = detach();
  io->setHandler(nullptr, true);
  return io;
}

void Ipc::dataAvailable(Io*)
{
  DestroyGuard guard(liveness_);
  try {
    callback_->dataAvailable(this);
  } catch (rdr::BlockException&) {
    // More data will come.
  } catch (plat::Exception& e) {
    if (guard.destroyed())
      return;
    ipcLog.info("%s: %s", name_.str(), e.str());
    // The connection goes first, so whatever the callbacks do (write, close,
    // accept a new connection, destroy this channel) meets a clean state.
    IoPtr gone = detach();
    gone.setOnReset(Shutdown::kDrop);
    gone.reset();
    try {
      callback_->error(this, e);
      if (guard.destroyed())
        return;
      callback_->closed(this);
    } catch (plat::Exception& e2) {
      if (!guard.destroyed())
        ipcLog.status("%s: %s", name_.str(), e2.str());
    }
  }
}

void Ipc::Callback::writable(Ipc*)
{
}

void Ipc::writable(Io*)
{
  callback_->writable(this);
}

void Ipc::closed(Io*)
{
  // The connection deletes itself right after this; detaching its handler
  // here would only make its output stream wait for a dead peer; nor is it
  // ours to shut down any more.
  detach().release();
  callback_->closed(this);
}

} // namespace io
