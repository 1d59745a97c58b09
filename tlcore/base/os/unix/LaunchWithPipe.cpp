#include "os/LaunchWithPipe.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <string>

#include "io/FdIo.h"
#include "os/LaunchPipe.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/MemOutStream.h"
#include "rdr/OutStream.h"

namespace os {

namespace {

// Waits until the connection's descriptor has something to read.
void waitReadable(io::Io* io)
{
  io::FdIo* fdIo = dynamic_cast<io::FdIo*>(io);
  if (!fdIo)
    return;
  struct pollfd pfd = {fdIo->getFd(), POLLIN, 0};
  while (poll(&pfd, 1, -1) < 0 && errno == EINTR) {
  }
}

// Everything the connection brings until its end, into out (null: dropped).
void drain(io::Io* io, rdr::OutStream* out)
{
  rdr::MemOutStream sink;
  try {
    while (!copyStream(*io->in(), out ? *out : sink, false)) {
      if (!out)
        sink.clear();
      waitReadable(io);
    }
  } catch (plat::Exception&) {
    // A broken connection ends the copy like its end.
  }
}

} // namespace

bool copyStream(rdr::InStream& in, rdr::OutStream& out, bool failWhenFull)
{
  for (;;) {
    try {
      if (!in.check(false, 1))
        return false;
    } catch (rdr::EndOfStream&) {
      return true;
    } catch (rdr::EndOfMsg&) {
      return true;
    } catch (rdr::BlockException&) {
      return false;
    }
    int n = in.nUnread();
    if (failWhenFull && out.spaceAvailable() < n)
      throw plat::Exception("OutStream full");
    out.writeBytes(in.getPtr(), n);
    in.consume(n);
  }
}

LaunchWithPipe::LaunchWithPipe(const LaunchProcess::Cfg& cfg) : cfg_(cfg), timer_(this)
{
  if (cfg_.reaper == LaunchProcess::Reaper::kLauncher)
    cfg_.reaper = LaunchProcess::Reaper::kPidManager;
  named_.reset(new LaunchWithNamedPipe(cfg_));
}

LaunchWithPipe::~LaunchWithPipe()
{
  timer_.stop();
}

bool LaunchWithPipe::elevated() const
{
  return cfg_.elevate && geteuid() != 0;
}

void LaunchWithPipe::launch(LaunchWithPipeCallback* callback)
{
  callback_ = callback;
  if (elevated()) {
    named_->launchAsync(callback);
    return;
  }
  PLAT_ASSERT_TEXT(!waiting_, "!timerDeferredIo");
  waiting_ = startChild();
  timer_.start(0);
}

bool LaunchWithPipe::timerExpired(plat::Timer*)
{
  LaunchWithPipeCallback* callback = callback_;
  callback_ = nullptr;
  if (callback)
    callback->launched(std::move(waiting_)); // may delete this
  return false;
}

io::IoPtr LaunchWithPipe::startChild()
{
  if (elevated())
    return named_->launchSync();
  LaunchProcess::Cfg cfg = cfg_;
  if (!cfg.noPipeArg)
    cfg.args.emplace_back(std::to_string(cfg.pipeFds.empty() ? 0 : cfg.pipeFds[0]).c_str());
  cfg.args.insert(cfg.args.end(), cfg.extraArgs.begin(), cfg.extraArgs.end());
  LaunchProcess launcher(cfg);
  return launcher.startWithPipe(cfg.pipeFds);
}

void LaunchWithPipe::runWithInput(size_t length, const uint8_t* bytes)
{
  io::IoPtr io = startChild();
  io::FdIo* fdIo = dynamic_cast<io::FdIo*>(io.get());
  io->out()->writeBytes(bytes, (int)length);
  io->out()->flush();
  while (io->out()->bytesBuffered() != 0) {
    // A non-blocking descriptor takes the rest as the child reads.
    struct pollfd pfd = {fdIo ? fdIo->getFd() : -1, POLLOUT, 0};
    poll(&pfd, 1, 100);
    io->out()->flush();
  }
  PLAT_ASSERT_TEXT(io->out()->bytesBuffered() == 0, "io->getOutStream()->unflushedBytes() == 0");
  if (io->out()->closeWrite())
    drain(io.get(), nullptr);
}

void LaunchWithPipe::runAndCollect(rdr::OutStream& out)
{
  io::IoPtr io = startChild();
  drain(io.get(), &out);
}

plat::String LaunchWithPipe::runAndCollectText(bool trimNewline)
{
  rdr::MemOutStream mem;
  runAndCollect(mem);
  plat::String text((const char*)mem.data(), (int)mem.length());
  int n = text.length();
  if (trimNewline && n > 0 && text.get()[n - 1] == '\n')
    text.data()[n - 1] = 0;
  return text;
}

} // namespace os
