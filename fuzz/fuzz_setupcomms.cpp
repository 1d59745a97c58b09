// The wizard's "SetupComms" server fed arbitrary bytes after its version
// word, arriving one byte at a time. It may not crash or hang; the window
// is raised only for a complete message, and every URI it is handed is
// valid UTF-8 of at most 8,192 received bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz_io.h"
#include "io/FdSelectManager.h"
#include "plat/utf8.h"
#include "product/init.h"
#include "rdr/tests/TrickleInStream.h"
#include "tlOrbSetup/SetupComms.h"

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

class Window : public tlOrbSetup::FrontEnd::Window {
public:
  void show() override {}
  void raiseAndActivate() override { raised++; }
  void handleUri(const char* uri) override
  {
    check(raised > uris);
    check(plat::isValidUtf8(uri));
    check(strlen(uri) <= 3 * (size_t)tlOrbSetup::kMaxSetupCommsUri);
    uris++;
  }
  int raised = 0;
  int uris = 0;
};

struct Server {
  Server()
  {
    // A pipe of its own, so parallel runs and a running wizard do not meet.
    plat::String app = plat::format("fuzzsetupcomms%d", (int)getpid());
    product::initAppInfo(nullptr, app.str(), "tlOrbSetup_setupapp_name_r");
    comms = std::make_unique<tlOrbSetup::SetupComms>(window);
  }
  io::FdSelectManager manager;
  Window window;
  std::unique_ptr<tlOrbSetup::SetupComms> comms;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 20000)
    return 0;
  static Server server;
  TrickleInStream input(std::string((const char*)data, size));
  auto io = std::make_unique<MemIo>(&input);
  server.window = Window();
  server.comms->ioAccept(io::IoPtr(io.get()));
  check(io->handler != nullptr);
  for (size_t i = 0; i < 2 * size + 4 && io->handler; i++) {
    input.arrive(1);
    io->handler->dataAvailable(io.get());
  }
  // The stream's end (or an error) ends the connection.
  check(io->shut);
  return 0;
}
