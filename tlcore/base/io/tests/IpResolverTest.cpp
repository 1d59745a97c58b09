// Name resolution: the blocking lookup, the resolver over its channel, the
// pool of worker threads and the exit with a lookup still running. Only
// numeric texts and /etc/hosts names reach the system; every other name is
// answered by the test's host lookup, which can also hold a lookup until the
// test releases it.
#include "io/IpResolver.h"

#include <dirent.h>
#include <netdb.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/FdIo.h"
#include "io/FdSelectManager.h"
#include "io/IpResolverIpc.h"
#include "os/socket.h"
#include "plat/Log.h"
#include "plat/Shutdown.h"
#include "plat/Time.h"
#include "rdr/MemInStream.h"

namespace {

// Names of the test domain, some of which wait for release().
class TestLookup : public io::HostLookup {
public:
  TestLookup() : table(true)
  {
    table.add("api.site.test", "127.0.0.1");
    for (const char* n :
         {"a.test", "b.test", "c.test", "s1.test", "s2.test", "s3.test", "s4.test", "slow.test"})
      table.add(n, "192.0.2.1");
    table.add("v6only.test", "2001:db8::5");
  }

  bool lookup(const char* host, int port, int family, std::vector<io::IpInfo>& out) override
  {
    std::unique_lock<std::mutex> lock(mutex);
    asked.push_back(host);
    if (held.count(host)) {
      entered.insert(host);
      changed.notify_all();
      changed.wait(lock, [&] { return !held.count(host); });
    }
    lock.unlock();
    // /etc/hosts answers this one.
    if (std::string(host) == "localhost")
      return false;
    return table.lookup(host, port, family, out);
  }

  void hold(const std::string& name)
  {
    std::lock_guard<std::mutex> lock(mutex);
    held.insert(name);
  }
  void release(const std::string& name)
  {
    std::lock_guard<std::mutex> lock(mutex);
    held.erase(name);
    changed.notify_all();
  }
  void releaseAll()
  {
    std::lock_guard<std::mutex> lock(mutex);
    held.clear();
    changed.notify_all();
  }
  size_t enteredCount()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return entered.size();
  }
  std::vector<std::string> askedNames()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return asked;
  }

private:
  io::HostTable table;
  std::mutex mutex;
  std::condition_variable changed;
  std::set<std::string> held, entered;
  std::vector<std::string> asked;
};

// Records what it hears as one line per event in a shared list.
struct Recorder : io::IpResolver::Callback {
  Recorder(std::vector<std::string>* events, std::string tag) : events(events), tag(tag) {}
  void resolved(io::IpResolver*, io::IpInfoList& list) override
  {
    std::string line = tag + " resolved";
    for (const io::IpInfo& a : list.addresses)
      line += std::string(" ") + a.toString();
    events->push_back(line);
  }
  void failed(io::IpResolver*, const plat::Exception& e) override
  {
    std::string line = tag + " failed [" + e.getType() + "] " + e.str();
    if (auto* g = dynamic_cast<const io::GetAddrInfoException*>(&e))
      line += " code " + std::to_string(g->code());
    events->push_back(line);
  }
  std::vector<std::string>* events;
  std::string tag;
};

int countResolverThreads()
{
  int n = 0;
  DIR* d = opendir("/proc/self/task");
  while (struct dirent* e = readdir(d)) {
    if (e->d_name[0] == '.')
      continue;
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    n += name == "IpResolveThread";
  }
  closedir(d);
  return n;
}

class Resolver : public testing::Test {
protected:
  Resolver() { io::setHostLookup(lookup); }
  ~Resolver() override
  {
    lookup->releaseAll();
    io::IpResolverMgr::shutdown();
    io::setHostLookup(nullptr);
  }

  // Runs the loop until pred holds; false after 60 s.
  bool runUntil(const std::function<bool()>& pred, io::FdSelectManager* on = nullptr)
  {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > deadline)
        return false;
      (on ? on : &loop)->processOnce(20);
    }
    return true;
  }

  io::FdSelectManager loop;
  std::shared_ptr<TestLookup> lookup = std::make_shared<TestLookup>();
  std::vector<std::string> events;
};

TEST_F(Resolver, ResolveSync)
{
  const std::string name300(300, 'a');
  struct Case {
    std::string host;
    int family;
    std::string result;
  };
  const std::string noName = std::string("'") + gai_strerror(EAI_NONAME) + "' (-2)";
  const Case cases[] = {
      {"127.0.0.1", 0, "127.0.0.1::80"},
      {"[::1]", AF_INET6, "[::1]::80"},
      {"localhost", AF_INET, "127.0.0.1::80"},
      {"api.site.test", 0, "127.0.0.1::80"},
      {"v6only.test", AF_INET,
       std::string("getaddrinfo for host v6only.test: '") + gai_strerror(EAI_ADDRFAMILY) +
           "' (-9)"},
      {"nosuch.test", 0, "getaddrinfo: " + noName},
      {name300, 0, "Host name longer than 255 bytes: " + noName},
  };
  for (const Case& c : cases) {
    io::IpInfoList list;
    std::string result;
    try {
      io::resolveSync(c.host.c_str(), 80, c.family, list);
      for (const io::IpInfo& a : list.addresses)
        result += (result.empty() ? "" : " ") + std::string(a.toString());
      EXPECT_EQ(c.host, list.name.get());
    } catch (io::GetAddrInfoException& e) {
      result = e.str();
    }
    EXPECT_EQ(c.result, result) << c.host;
  }
  // localhost from /etc/hosts, family 0: the IPv4 loopback first.
  io::IpInfoList list;
  io::resolveSync("localhost", 80, 0, list);
  EXPECT_STREQ("127.0.0.1::80", list.addresses.at(0).toString());
  // The over-long name never reached a lookup, cut or whole.
  for (const std::string& asked : lookup->askedNames())
    EXPECT_LT(asked.size(), 256u);
}

// Numeric addresses are answered on a later pass without a thread; the
// wrong family goes to the server.
TEST_F(Resolver, NumericWithoutThread)
{
  io::IpResolver* r = io::IpResolverMgr::getResolver();
  Recorder cb(&events, "n");
  r->resolve(&cb, "127.0.0.1", 80, 0);
  r->resolve(&cb, "[::1]", 81, AF_INET6);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(0, r->pendingCount());
  ASSERT_TRUE(runUntil([&] { return events.size() == 2; }));
  EXPECT_EQ("n resolved 127.0.0.1::80", events[0]);
  EXPECT_EQ("n resolved [::1]::81", events[1]);
  EXPECT_EQ(0, countResolverThreads());

  r->resolve(&cb, "127.0.0.1", 80, AF_INET6);
  EXPECT_EQ(1, r->pendingCount());
  ASSERT_TRUE(runUntil([&] { return events.size() == 3; }));
  EXPECT_EQ(0u, events[2].find("n failed [GetAddrInfo] getaddrinfo: ")) << events[2];
}

TEST_F(Resolver, OrderCancelAndErrors)
{
  io::IpResolver* r = io::IpResolverMgr::getResolver();
  Recorder a(&events, "a"), b(&events, "b"), c(&events, "c"), d(&events, "d"), e(&events, "e");
  lookup->hold("a.test");
  r->resolve(&a, "a.test", 1, 0);
  r->resolve(&b, "b.test", 2, 0);
  r->resolve(&c, "api.site.test", 3, 0);
  r->resolve(&d, "nosuch.test", 4, 0);
  r->resolve(&e, std::string(300, 'x').c_str(), 5, 0);
  EXPECT_EQ(4, r->pendingCount());
  r->cancel(&b);
  ASSERT_TRUE(runUntil([&] { return lookup->enteredCount() == 1; }));
  EXPECT_EQ(1, countResolverThreads());
  lookup->release("a.test");
  ASSERT_TRUE(runUntil([&] { return events.size() == 4; }));
  const std::string noName = std::string("'") + gai_strerror(EAI_NONAME) + "' (-2)";
  EXPECT_EQ("e failed [GetAddrInfo] Host name longer than 255 bytes: " + noName + " code -2",
            events[0]);
  EXPECT_EQ("a resolved 192.0.2.1::1", events[1]);
  EXPECT_EQ("c resolved 127.0.0.1::3", events[2]);
  EXPECT_EQ("d failed [GetAddrInfo] getaddrinfo: " + noName + " code -2", events[3]);
  // The last answer closes the channel, which ends the thread.
  EXPECT_EQ(0, r->pendingCount());
  EXPECT_TRUE(runUntil([&] { return countResolverThreads() == 0; }));
}

// Each test's loop is its own: a pool left behind by a loop that has gone
// is replaced, even with a lookup still under way.
TEST_F(Resolver, PoolOutlivesItsLoop)
{
  lookup->hold("b.test");
  Recorder a(&events, "a"), b(&events, "b"), c(&events, "c");
  {
    io::FdSelectManager first(true);
    io::IpResolverMgr::getResolver()->resolve(&a, "a.test", 1, 0);
    ASSERT_TRUE(runUntil([&] { return events.size() == 1; }, &first));
    io::IpResolverMgr::getResolver()->resolve(&b, "b.test", 2, 0);
    ASSERT_TRUE(runUntil([&] { return lookup->enteredCount() == 1; }, &first));
  }
  io::IpResolverMgr::getResolver()->resolve(&c, "c.test", 3, 0);
  lookup->release("b.test");
  ASSERT_TRUE(runUntil([&] { return events.size() == 2; }));
  EXPECT_EQ("c resolved 192.0.2.1::3", events[1]);
}

// A resolver whose server end the test holds (or breaks).
class LocalResolver : public io::IpResolverIpc {
public:
  explicit LocalResolver(bool broken) : broken(broken) {}
  void launchServer() override
  {
    if (broken) {
      ipc_.ioAccept(io::IoPtr(new BrokenIo));
      return;
    }
    int fds[2];
    os::socketPair(fds);
    peerFd = fds[1];
    ipc_.ioAccept(io::IoPtr(new io::FdIo(fds[0], io::FdIoFlags::kOwnFd)));
  }

  // A connection on which every write fails.
  class BrokenIo : public io::Io {
  public:
    BrokenIo() { setStreams(&input, &output); }
    void setHandler(io::IoHandler*, bool) override {}
    void shutdown(io::Shutdown) override { delete this; }
    const char* displayName() override { return "broken"; }
    const char* peerEndpoint() override { return ""; }
    const char* peerAddress() override { return ""; }
    const char* myEndpoint() override { return ""; }
    void setTimeout(int) override {}

  private:
    struct Out : rdr::OutStream {
      int64_t length() override { return 0; }
      int spaceAvailable() override { return 0; }
      void writeBytes(const void*, int) override { throw plat::Exception("write: broken pipe"); }
      int overrun(int, int) override { throw plat::Exception("write: broken pipe"); }
    };
    rdr::MemInStream input{"", 0};
    Out output;
  };

  bool broken;
  int peerFd = -1;
};

TEST_F(Resolver, ClosedServerFailsEveryPending)
{
  LocalResolver r(false);
  Recorder a(&events, "a"), b(&events, "b");
  r.resolve(&a, "a.test", 1, 0);
  r.resolve(&b, "b.test", 2, 0);
  EXPECT_EQ(2, r.pendingCount());
  close(r.peerFd);
  ASSERT_TRUE(runUntil([&] { return events.size() == 2; }));
  EXPECT_EQ("a failed [IpResolve] Comms failure to IpResolveServer", events[0]);
  EXPECT_EQ("b failed [IpResolve] Comms failure to IpResolveServer", events[1]);
  EXPECT_EQ(0, r.pendingCount());
}

// A request that could not be sent fails by itself and is not left
// waiting for an answer that would belong to the next request.
TEST_F(Resolver, UnsentRequestFailsAtOnce)
{
  LocalResolver r(true);
  Recorder a(&events, "a");
  r.resolve(&a, "a.test", 1, 0);
  EXPECT_EQ(0, r.pendingCount());
  EXPECT_TRUE(events.empty());
  ASSERT_TRUE(runUntil([&] { return events.size() == 1; }));
  EXPECT_EQ("a failed [IpResolve] write: broken pipe", events[0]);
}

plat::Time gNow;
plat::Time fakeClock(plat::Time, bool*)
{
  return __atomic_load_n(&gNow, __ATOMIC_SEQ_CST);
}

// Four held lookups make three resolvers, the fourth request queueing on the
// first; once idle for a minute the pool shrinks, keeping a busy one.
TEST_F(Resolver, PoolOfThreeAndPruning)
{
  __atomic_store_n(&gNow, 1000 * plat::kTicksPerSecond, __ATOMIC_SEQ_CST);
  plat::MonoClockFn previous = plat::setMonoClock(fakeClock);
  for (const char* n : {"s1.test", "s2.test", "s3.test", "s4.test"})
    lookup->hold(n);
  std::vector<io::IpResolver*> used;
  std::vector<std::unique_ptr<Recorder>> cbs;
  for (int i = 1; i <= 4; i++) {
    io::IpResolver* r = io::IpResolverMgr::getResolver();
    cbs.emplace_back(new Recorder(&events, "s" + std::to_string(i)));
    r->resolve(cbs.back().get(), ("s" + std::to_string(i) + ".test").c_str(), i, 0);
    used.push_back(r);
  }
  std::vector<io::IpResolver*> pool = io::IpResolverMgr::resolversForTest();
  ASSERT_EQ(3u, pool.size());
  EXPECT_EQ(pool[0], used[0]);
  EXPECT_EQ(pool[1], used[1]);
  EXPECT_EQ(pool[2], used[2]);
  EXPECT_EQ(pool[0], used[3]);
  EXPECT_EQ(2, pool[0]->pendingCount());
  ASSERT_TRUE(runUntil([&] { return lookup->enteredCount() == 3; }));
  EXPECT_EQ(3, countResolverThreads());

  for (const char* n : {"s1.test", "s3.test", "s4.test"})
    lookup->release(n);
  ASSERT_TRUE(runUntil([&] { return events.size() == 3; }));

  __atomic_add_fetch(&gNow, 61 * plat::kTicksPerSecond, __ATOMIC_SEQ_CST);
  loop.processOnce(0);
  EXPECT_EQ(std::vector<io::IpResolver*>{pool[1]}, io::IpResolverMgr::resolversForTest());

  lookup->release("s2.test");
  ASSERT_TRUE(runUntil([&] { return events.size() == 4; }));
  EXPECT_EQ("s2 resolved 192.0.2.1::2", events[3]);
  plat::setMonoClock(previous);
}

// Runs one ResolverExit test of this program again in a child that has
// TL_RESOLVER_EXIT_CHILD set, where the test takes its child branch; the
// child's exit status, or -1 when it did not end within two minutes.
int runExitChild(const char* test)
{
  std::string filter = std::string("--gtest_filter=ResolverExit.") + test;
  pid_t pid = fork();
  if (pid < 0)
    return -2;
  if (pid == 0) {
    setenv("TL_RESOLVER_EXIT_CHILD", "1", 1);
    execl("/proc/self/exe", "resolver-exit-child", filter.c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    usleep(20000);
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The process exits (through exit(), with the loop still around) while two
// workers are in lookups: one never returns, the other returns after the
// pool was stopped. The shutdown sequence runs before static destruction and
// does not wait for either; the one that returns parks instead of running on
// into destroyed statics. The exit neither hangs nor trips the sanitizers.
std::shared_ptr<TestLookup> exitLookup;

void releaseAfterPoolStopped()
{
  if (!io::IpResolverMgr::resolversForTest().empty())
    _exit(4);
  exitLookup->release("s1.test");
  usleep(500000);
  // Parked, the worker is still there; run on, it would have ended.
  if (countResolverThreads() != 2)
    _exit(3);
}

TEST(ResolverExit, SlowLookupDoesNotHoldExit)
{
  if (getenv("TL_RESOLVER_EXIT_CHILD")) {
    io::FdSelectManager loop;
    exitLookup = std::make_shared<TestLookup>();
    exitLookup->hold("slow.test");
    exitLookup->hold("s1.test");
    io::setHostLookup(exitLookup);
    static struct : io::IpResolver::Callback {
      void resolved(io::IpResolver*, io::IpInfoList&) override {}
      void failed(io::IpResolver*, const plat::Exception&) override {}
    } cb;
    io::IpResolverMgr::getResolver()->resolve(&cb, "slow.test", 80, 0);
    io::IpResolverMgr::getResolver()->resolve(&cb, "s1.test", 80, 0);
    while (exitLookup->enteredCount() < 2)
      loop.processOnce(20);
    plat::addShutdownStep(plat::kShutdownResolvers + 10, releaseAfterPoolStopped);
    exit(0);
  }

  // -1: the exit hung with a lookup pending.
  EXPECT_EQ(0, runExitChild("SlowLookupDoesNotHoldExit"));
}

// A worker abandoned inside its lookup comes out of it just before the
// process exits and is still running when the shutdown sequence starts (a
// log destination holds it there): the sequence waits for it and joins it,
// so it never runs on into the statics being destroyed.
class HoldingDest : public plat::LogDest {
public:
  HoldingDest() : LogDest("resolverexithold") {}
  void write(int, const char*, const char* text) override
  {
    if (!strstr(text, "for s2.test"))
      return;
    std::unique_lock<std::mutex> lock(mutex);
    reached = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
    lock.unlock();
    // Still busy while the exit moves on.
    usleep(300000);
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool reached = false;
  bool released = false;
};

HoldingDest* holdingDest;

void releaseWorkerAtExit()
{
  std::lock_guard<std::mutex> lock(holdingDest->mutex);
  holdingDest->released = true;
  holdingDest->changed.notify_all();
}

void checkWorkerJoined()
{
  if (countResolverThreads() != 0)
    _exit(3);
}

TEST(ResolverExit, WorkerLeavingItsLookupAtExitIsJoined)
{
  if (getenv("TL_RESOLVER_EXIT_CHILD")) {
    io::FdSelectManager loop;
    auto lookup = std::make_shared<TestLookup>();
    lookup->hold("s2.test");
    io::setHostLookup(lookup);
    holdingDest = new HoldingDest;
    plat::setLogOverride("IpResolver:resolverexithold:100");
    static struct : io::IpResolver::Callback {
      void resolved(io::IpResolver*, io::IpInfoList&) override {}
      void failed(io::IpResolver*, const plat::Exception&) override {}
    } cb;
    io::IpResolverMgr::getResolver()->resolve(&cb, "s2.test", 80, 0);
    while (lookup->enteredCount() < 1)
      loop.processOnce(20);
    io::IpResolverMgr::shutdown(); // abandons the worker inside its lookup
    lookup->release("s2.test");
    {
      std::unique_lock<std::mutex> lock(holdingDest->mutex);
      holdingDest->changed.wait(lock, [] { return holdingDest->reached; });
    }
    plat::addShutdownStep(plat::kShutdownResolvers - 1, releaseWorkerAtExit);
    plat::addShutdownStep(plat::kShutdownResolvers + 10, checkWorkerJoined);
    exit(0);
  }
  EXPECT_EQ(0, runExitChild("WorkerLeavingItsLookupAtExitIsJoined"));
}

} // namespace
