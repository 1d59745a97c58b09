// Tunnel set-up latency on loopback: a SOCKS 5 tunnel through microsocks
// and an HTTP CONNECT tunnel through tinyproxy, against a direct TCP
// connect to the same echo server. Each proxy runs as a child process on a
// free port for the length of its benchmark. An iteration times the
// connector from start() to the report of the finished connection; the
// shutdown that follows is not timed. Prints each tunnel's time as a
// multiple of the direct connect's.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_util.h"
#include "http/HttpConnectConnector.h"
#include "io/FdSelectManager.h"
#include "io/IpInfo.h"
#include "io/IpResolver.h"
#include "io/Socks5Connector.h"
#include "io/TcpConnector.h"
#include "os/AppInfo.h"
#include "os/socket.h"

namespace {

const char* const kMicrosocks = "/usr/bin/microsocks";
const char* const kTinyproxy = "/usr/bin/tinyproxy";

// Echoes what each connection sends until the peer closes; on 127.0.0.1,
// served by one thread with poll() until destroyed.
class EchoServer {
public:
  EchoServer()
  {
    fd = os::bindSocket(io::IpInfo(0, true, AF_INET), SOCK_STREAM, false);
    listen(fd, 512);
    port = io::IpInfo(fd, true).port();
    if (pipe2(wake, O_CLOEXEC) != 0)
      wake[0] = wake[1] = -1;
    thread = std::thread([this] { serve(); });
  }
  ~EchoServer()
  {
    char c = 0;
    if (write(wake[1], &c, 1) != 1)
      perror("echo server wake-up");
    thread.join();
    close(wake[0]);
    close(wake[1]);
    close(fd);
  }
  int port;

private:
  void serve()
  {
    std::vector<pollfd> fds = {{wake[0], POLLIN, 0}, {fd, POLLIN, 0}};
    for (;;) {
      if (poll(fds.data(), fds.size(), -1) < 0)
        continue;
      if (fds[0].revents)
        break;
      if (fds[1].revents & POLLIN) {
        int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0)
          fds.push_back({c, POLLIN, 0});
      }
      for (size_t i = 2; i < fds.size();) {
        if (fds[i].revents && !echo(fds[i].fd)) {
          close(fds[i].fd);
          fds[i] = fds.back();
          fds.pop_back();
          continue;
        }
        i++;
      }
    }
    for (size_t i = 2; i < fds.size(); i++)
      close(fds[i].fd);
  }
  // False once the connection is finished.
  static bool echo(int c)
  {
    char buf[4096];
    ssize_t n = read(c, buf, sizeof(buf));
    return n > 0 && write(c, buf, n) == n;
  }

  int fd;
  int wake[2];
  std::thread thread;
};

class Result : public io::IoConnected {
public:
  void connected(io::IoConnector*, io::IoPtr c) override { io.reset(c.release()); }
  void failed(io::IoConnector*, const plat::Exception& e) override { error = e.str(); }
  io::IoPtr io{nullptr, io::Shutdown::kDrop};
  std::string error;
};

// Times make() + start() up to the report, per iteration.
template <class Make>
void measure(benchmark::State& state, Make make)
{
  io::FdSelectManager mgr;
  for (auto _ : state) {
    Result r;
    auto begin = std::chrono::steady_clock::now();
    {
      std::unique_ptr<io::IoConnector> connector(make());
      connector->start(&r);
      while (!r.io && r.error.empty())
        mgr.processOnce(-1);
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    if (!r.io) {
      state.SkipWithError(("connect failed: " + r.error).c_str());
      break;
    }
    r.io.reset();
  }
  // The last shutdowns and deferred deletes.
  for (int i = 0; i < 5; i++)
    mgr.processOnce(0);
  io::IpResolverMgr::shutdown();
}

void BM_Direct(benchmark::State& state)
{
  EchoServer echo;
  measure(state, [&] { return new io::TcpConnector("127.0.0.1", echo.port); });
}

void BM_Socks5(benchmark::State& state)
{
  if (access(kMicrosocks, X_OK) != 0) {
    state.SkipWithError("microsocks not installed");
    return;
  }
  EchoServer echo;
  int port = tlbench::freePort();
  tlbench::Peer proxy({kMicrosocks, "-i", "127.0.0.1", "-p", std::to_string(port)}, {port});
  if (!proxy.ready()) {
    state.SkipWithError("microsocks did not start");
    return;
  }
  std::string via = "127.0.0.1:" + std::to_string(port);
  measure(state, [&] {
    return new io::Socks5Connector("127.0.0.1", echo.port, via.c_str(), io::IoPtr(), nullptr);
  });
}

void BM_HttpConnect(benchmark::State& state)
{
  if (access(kTinyproxy, X_OK) != 0) {
    state.SkipWithError("tinyproxy not installed");
    return;
  }
  EchoServer echo;
  int port = tlbench::freePort();
  std::string conf = "/tmp/tl-bench-" + std::to_string(getpid()) + "-tinyproxy.conf";
  std::ofstream(conf) << "Port " << port << "\nListen 127.0.0.1\nTimeout 60\nConnectPort "
                      << echo.port << "\nAllow 127.0.0.1\nMaxClients 512\nLogLevel Critical\n";
  {
    tlbench::Peer proxy({kTinyproxy, "-d", "-c", conf}, {port});
    if (!proxy.ready()) {
      state.SkipWithError("tinyproxy did not start");
    } else {
      std::string via = "127.0.0.1:" + std::to_string(port);
      measure(state, [&] {
        return new http::HttpConnectConnector("127.0.0.1", echo.port, via.c_str(), io::IoPtr(),
                                              nullptr);
      });
    }
  }
  unlink(conf.c_str());
}

} // namespace

BENCHMARK(BM_Direct)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Socks5)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HttpConnect)->UseManualTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
  // The CONNECT request's User-Agent names the program.
  if (!os::AppInfo::isAppNameSet())
    os::AppInfo::setAppName("bench_proxy");
  // A proxy closing a tunnel must not end the benchmark.
  signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const char* direct = "BM_Direct/manual_time";
  if (double r = reporter.ratio("BM_Socks5/manual_time", direct))
    printf("tunnel set-up: SOCKS5 (microsocks)/direct time ratio %.2f\n", r);
  if (double r = reporter.ratio("BM_HttpConnect/manual_time", direct))
    printf("tunnel set-up: CONNECT (tinyproxy)/direct time ratio %.2f\n", r);
  return 0;
}
