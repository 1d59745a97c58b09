// The readers of the resolver's messages and of the IPC log destination's
// messages, fed arbitrary bytes as the stream of their channel. The first
// byte chooses the side and the number of requests.
//
// Client side: an IpResolverIpc with one to four lookups pending reads
// "IpResolveResult" messages as they arrive in pieces; each request's
// callback is told exactly once (an answer, a failure, or that the resolver
// went away). Server side: one channel read message by message carries the
// resolver server ("IpResolve", answered from a fixed host table), the log
// source that receives "logMsg" and the "ipc" destination that receives
// "setLogLevel". Nothing may crash or hang.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "fuzz_io.h"
#include "fuzz_util.h"
#include "io/FdSelectManager.h"
#include "io/IpResolver.h"
#include "io/IpResolverIpc.h"
#include "io/LogDestIpc.h"
#include "io/MsgIpc.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/tests/TrickleInStream.h"

namespace {

class Told : public io::IpResolver::Callback {
public:
  void resolved(io::IpResolver*, io::IpInfoList&) override { count++; }
  void failed(io::IpResolver*, const plat::Exception&) override { count++; }
  void resolverGone(io::IpResolver*) override { count++; }
  int count = 0;
};

class MemResolver : public io::IpResolverIpc {
public:
  explicit MemResolver(MemIo* io) : io_(io) {}
  void launchServer() override { ipc_.ioAccept(io::IoPtr(io_)); }

private:
  MemIo* io_;
};

class Quiet : public io::MsgIpc::Callback {
public:
  void closed(io::MsgIpc*) override {}
};

void runClient(int requests, const uint8_t* data, size_t size)
{
  TrickleInStream input(std::string((const char*)data, size));
  MemIo io(&input);
  Told told[4];
  {
    MemResolver resolver(&io);
    for (int i = 0; i < requests; i++)
      resolver.resolve(&told[i], "name.test", 80 + i, 0);
    FUZZ_CHECK(io.handler != nullptr);
    // Pieces of growing size: every cut early on, linear time overall.
    for (size_t piece = 1; io.handler && !input.allArrived(); piece += piece / 4 + 1) {
      input.arrive(piece);
      io.handler->dataAvailable(&io);
    }
    if (io.handler)
      io.handler->dataAvailable(&io);
  }
  for (int i = 0; i < requests; i++)
    FUZZ_CHECK(told[i].count == 1);
}

void runServer(const uint8_t* data, size_t size)
{
  static plat::LogSrc* sink = new plat::LogSrcViaIpc("FuzzIpcLog");
  (void)sink;
  rdr::MemInStream input(data, (int)size);
  MemIo io(&input);
  Quiet quiet;
  io::MsgIpc channel(&quiet, "Fuzz", io::MsgIpcFlags::kSync);
  channel.ioAccept(io::IoPtr(&io));
  io::IpResolveServer server(&channel);
  auto* viaIpc = static_cast<plat::LogSrcViaIpc*>(sink);
  viaIpc->setIpc(&channel, true);
  plat::LogDestIpc::get()->setIpc(&channel);
  // Every message consumes at least its header.
  for (size_t i = 0; i <= size / 2 + 1 && channel.isConnected(); i++) {
    try {
      channel.readMessage(nullptr);
    } catch (rdr::EndOfStream&) {
      break;
    } catch (plat::Exception&) {
      if (!channel.isConnected())
        break;
    }
  }
  plat::LogDestIpc::get()->setIpc(nullptr);
  viaIpc->setIpc(&channel, false);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > 16384)
    return 0;
  fuzzQuietLogs();
  static io::FdSelectManager* loop = [] {
    auto table = std::make_shared<io::HostTable>(true);
    table->add("name.test", "192.0.2.1");
    table->add("name.test", "2001:db8::1");
    io::setHostLookup(table);
    return new io::FdSelectManager;
  }();
  (void)loop;
  if (data[0] & 1)
    runClient(1 + (data[0] >> 1 & 3), data + 1, size - 1);
  else
    runServer(data + 1, size - 1);
  return 0;
}
