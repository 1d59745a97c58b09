// One "uri" hand-over to the running wizard's "SetupComms" server (in a
// child process): SetupCommsClient (connect, version word, peer check, the
// framed message, close) against a raw blocking Unix-socket client that
// reads the version word and sends the same bytes. Goal: at most 2x.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "bench_util.h"
#include "io/FdSelectManager.h"
#include "product/init.h"
#include "tlOrbSetup/SetupComms.h"

namespace {

const char kUri[] = "example.daziziz.setup://signin/complete?state=5f1c2a&code=Yx8kQ0vZ4m2rT7bN";
std::string pipePath;

class CountingWindow : public tlOrbSetup::FrontEnd::Window {
public:
  void show() override {}
  void raiseAndActivate() override {}
  void handleUri(const char*) override { handled++; }
  long handled = 0;
};

// The wizard side, until killed.
[[noreturn]] void serve(int readyFd)
{
  io::FdSelectManager manager;
  CountingWindow window;
  tlOrbSetup::SetupComms comms(window);
  if (write(readyFd, "r", 1) != 1)
    _exit(1);
  for (;;)
    manager.processOnce(-1);
}

void writeAll(int fd, const std::string& bytes)
{
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0)
      abort();
    done += (size_t)n;
  }
}

// The frame SetupCommsClient sends: one last frame of name and string.
std::string uriFrame()
{
  std::string payload = std::string(1, 3) + "uri";
  uint32_t len = sizeof(kUri) - 1;
  for (int shift = 24; shift >= 0; shift -= 8)
    payload += (char)(len >> shift);
  payload += kUri;
  std::string frame;
  frame += (char)(0x80 | (payload.size() >> 8));
  frame += (char)(payload.size() & 0xff);
  return frame + payload;
}

void BM_SetupCommsClient(benchmark::State& state)
{
  for (auto _ : state) {
    tlOrbSetup::SetupCommsClient client(pipePath.c_str());
    client.send("uri", kUri);
    client.close();
  }
}

void BM_RawUnixClient(benchmark::State& state)
{
  std::string frame = uriFrame();
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", pipePath.c_str());
  for (auto _ : state) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, (struct sockaddr*)&addr, sizeof(addr)) != 0)
      abort();
    char version[4];
    size_t got = 0;
    while (got < 4) {
      ssize_t n = read(fd, version + got, 4 - got);
      if (n <= 0)
        abort();
      got += (size_t)n;
    }
    writeAll(fd, frame);
    close(fd);
  }
}

BENCHMARK(BM_SetupCommsClient);
BENCHMARK(BM_RawUnixClient);

} // namespace

int main(int argc, char** argv)
{
  signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  // A pipe of its own, away from a running wizard's.
  plat::String app = plat::format("benchsetupcomms%d", (int)getpid());
  product::initAppInfo(argv[0], app.str(), "tlOrbSetup_setupapp_name_r");
  pipePath = tlOrbSetup::setupCommsPath().str();
  int ready[2];
  if (pipe(ready) != 0)
    return 1;
  fflush(nullptr);
  pid_t server = fork();
  if (server == 0) {
    close(ready[0]);
    serve(ready[1]);
  }
  close(ready[1]);
  char c;
  if (read(ready[0], &c, 1) != 1)
    return 1;
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  kill(server, SIGKILL);
  waitpid(server, nullptr, 0);
  unlink(pipePath.c_str());
  double ratio = reporter.ratio("BM_SetupCommsClient", "BM_RawUnixClient");
  printf("uri hand-over: SetupCommsClient / raw Unix-socket client = %.2f (goal <= 2.00: %s)\n",
         ratio, ratio > 0 && ratio <= 2.0 ? "met" : "not met");
  return 0;
}
