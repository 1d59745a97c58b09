// Connect latency on loopback: the asynchronous TCP connector (resolver
// answer for a numeric address, staggered multi-connector, non-blocking
// connect, TcpIo with its options and names) driven by the select loop,
// against a raw blocking socket()+connect() in the same binary. A thread
// accepts and drops the connections of both. Each connection is closed with
// a reset so that no TIME_WAIT entries pile up. Prints the connector's
// connects per second as a share of the raw rate.
#include <netinet/in.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "io/FdSelectManager.h"
#include "io/IpInfo.h"
#include "io/IpResolver.h"
#include "io/TcpConnector.h"
#include "io/TcpIo.h"
#include "os/socket.h"

namespace {

std::map<std::string, double> rates;

void resetOnClose(int fd)
{
  struct linger l = {1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
}

// Accepts and closes connections on 127.0.0.1 until stopped.
class Acceptor {
public:
  Acceptor()
  {
    fd = os::bindSocket(io::IpInfo(0, true, AF_INET), SOCK_STREAM, false);
    listen(fd, 512);
    port = io::IpInfo(fd, true).port();
    thread = std::thread([this] {
      while (!stopping) {
        int c = accept(fd, nullptr, nullptr);
        if (c >= 0)
          close(c);
      }
    });
  }
  ~Acceptor()
  {
    stopping = true;
    // Wakes the blocking accept.
    int c = os::connectSocket(io::IpInfo(port, true, AF_INET), SOCK_STREAM, true);
    close(c);
    thread.join();
    close(fd);
  }
  int fd;
  int port;
  std::atomic<bool> stopping{false};
  std::thread thread;
};

void record(benchmark::State& state, const char* kind, std::chrono::steady_clock::duration d)
{
  double s = std::chrono::duration<double>(d).count();
  double rate = s > 0 ? state.iterations() / s : 0;
  rates[kind] = rate;
  state.counters["connects/s"] = rate;
}

void BM_RawConnect(benchmark::State& state)
{
  Acceptor acceptor;
  io::IpInfo address(acceptor.port, true, AF_INET);
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, address.sockAddr(), address.len()) < 0) {
      state.SkipWithError("raw connect failed");
      break;
    }
    resetOnClose(fd);
    close(fd);
  }
  record(state, "raw", std::chrono::steady_clock::now() - start);
}

class Result : public io::IoConnected {
public:
  void connected(io::IoConnector*, io::IoPtr c) override { io.reset(c.release()); }
  void failed(io::IoConnector*, const plat::Exception&) override { error = true; }
  io::IoPtr io{nullptr, io::Shutdown::kDrop};
  bool error = false;
};

void BM_TcpConnector(benchmark::State& state)
{
  Acceptor acceptor;
  io::FdSelectManager mgr;
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    Result r;
    {
      io::TcpConnector tc("127.0.0.1", acceptor.port);
      tc.start(&r);
      while (!r.io && !r.error)
        mgr.processOnce(-1);
    }
    if (r.error) {
      state.SkipWithError("connector failed");
      break;
    }
    resetOnClose(static_cast<io::TcpIo*>(r.io.get())->getFd());
    r.io.reset();
  }
  record(state, "connector", std::chrono::steady_clock::now() - start);
  // The last shutdowns and deferred deletes.
  for (int i = 0; i < 5; i++)
    mgr.processOnce(0);
  io::IpResolverMgr::shutdown();
}

} // namespace

BENCHMARK(BM_RawConnect);
BENCHMARK(BM_TcpConnector);

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  double connector = rates["connector"], raw = rates["raw"];
  if (connector > 0 && raw > 0)
    printf("loopback connect: TCP connector %.0f/s, raw %.0f/s, ratio %.2f\n", connector, raw,
           connector / raw);
  return 0;
}
