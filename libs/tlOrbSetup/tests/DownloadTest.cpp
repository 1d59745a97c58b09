// The package download over HTTPS from the scripted server, trusted through
// a test CA in the data directory's "cacerts.pem": the saved file and its
// second copy, progress on a replaced clock, refused answers and URIs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto/Sha.h"
#include "httpTestUtil.h"
#include "io/FdSelectManager.h"
#include "netTestUtil.h"
#include "os/AppInfo.h"
#include "os/dirs.h"
#include "os/paths.h"
#include "plat/Configuration.h"
#include "plat/encodings.h"
#include "rootdir.h"
#include "ssl/HttpsClient.h"
#include "testutil.h"
#include "tlOrbSetup/PkgOrb.h"
#include "tlOrbSetup/SessionDir.h"

namespace {

using tlOrbSetup::Pkg;

plat::Time gNow;
plat::Time fakeClock(plat::Time, bool* jumped)
{
  if (jumped)
    *jumped = false;
  return __atomic_load_n(&gNow, __ATOMIC_SEQ_CST);
}
void advanceMs(int ms)
{
  __atomic_add_fetch(&gNow, (plat::Time)ms * plat::kTicksPerMilli, __ATOMIC_SEQ_CST);
}

struct Wizard : Pkg::DownloadCallback {
  void progress(Pkg*, int64_t received, int64_t total) override
  {
    calls.push_back(std::to_string(received) + "/" + std::to_string(total));
  }
  void done(Pkg*, const plat::Exception& e) override
  {
    dones++;
    error = e.str();
    type = e.getType();
  }
  std::vector<std::string> calls;
  int dones = 0;
  std::string error, type;
};

std::string sha256Hex(const std::string& bytes)
{
  plat::MBuf<unsigned char> d;
  crypto::Sha::digest(256, (int)bytes.size(), bytes.data(), d, false);
  return plat::binToHex(d.length(), d.data()).str();
}

std::string ok(const std::string& body)
{
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class DownloadTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    if (data_.path().empty())
      GTEST_SKIP() << "needs root for a trusted data directory";
    os::AppInfo::set("tlzarnconnectsetup", nullptr, "zarn", nullptr, nullptr);
    httptest::prepareProcess();
    os::setTmpDirForTest(tmp_.path().c_str());
    tltest::commandOutput("cp " + ca_.path("ca.pem") + " " + (data_ / "cacerts.pem"));
    os::setSystemConfigDir(data_.path().c_str());
    cert_ = ca_.server("dl", "DNS:localhost");
    client_ = ssl::createHttpsClient(nullptr);
  }
  void TearDown() override
  {
    pkg_.reset();
    nettest::settle(mgr_);
    client_.reset();
    os::setSystemConfigDir(nullptr);
    os::setTmpDirForTest(nullptr);
  }

  // A package object for the server's path, its download started.
  void start(const httptest::ScriptedServer& server, const std::string& path)
  {
    std::string uri = "https://localhost:" + std::to_string(server.port()) + path;
    plat::Configuration::global().set("_OrbUri", uri.c_str(), plat::kPriorityPolicy + 1);
    pkg_.reset(new tlOrbSetup::PkgOrb(nullptr, client_.get()));
    wizard_ = Wizard();
    pkg_->startDownload(&wizard_);
    EXPECT_EQ(0, wizard_.dones); // never from inside startDownload
  }
  void finish()
  {
    ASSERT_TRUE(nettest::runUntil(
        mgr_, [&] { return wizard_.dones > 0; }, 60000));
    nettest::settle(mgr_);
    EXPECT_EQ(1, wizard_.dones);
  }
  std::string saved() const { return pkg_->file() ? pkg_->file() : ""; }

  io::FdSelectManager mgr_;
  tltest::RootOnlyDir data_;
  tltest::TempDir tmp_{"dltmp"};
  httptest::TestCa ca_;
  std::string cert_;
  std::unique_ptr<http::HttpClient> client_;
  std::unique_ptr<Pkg> pkg_;
  Wizard wizard_;
};

TEST_F(DownloadTest, SavedOwnerOnlyWithCounterOnSecondCopy)
{
  std::string body(300000, '\0');
  std::mt19937 random(35);
  for (char& c : body)
    c = (char)random();
  httptest::ScriptedServer server({{"pkg", {ok(body)}}}, cert_, ca_.path("dl.key"));
  for (const char* name : {"Tessaly.deb", "Tessaly(1).deb"}) {
    SCOPED_TRACE(name);
    start(server, "/pkg/whole/Tessaly.deb");
    finish();
    EXPECT_EQ("", wizard_.error);
    ASSERT_FALSE(wizard_.calls.empty());
    EXPECT_EQ("1/1", wizard_.calls.back());
    std::string file = saved();
    EXPECT_EQ(tlOrbSetup::getInstallerSessionDir().str() + std::string("/") + name, file);
    std::string digest = tltest::commandOutput("sha256sum '" + file + "'");
    EXPECT_EQ(sha256Hex(body), digest.substr(0, digest.find(' ')));
    struct stat st;
    ASSERT_EQ(0, stat(file.c_str(), &st));
    EXPECT_EQ(0100600u, st.st_mode);
    ASSERT_EQ(0, stat(tlOrbSetup::getInstallerSessionDir().str(), &st));
    EXPECT_EQ(040700u, st.st_mode);
  }
}

// Progress once per second of the replaced clock while the body is held
// back, then (1, 1) when it is complete.
TEST_F(DownloadTest, ProgressEverySecond)
{
  const std::string body(100000, 'x');
  const std::string raw = ok(body);
  const size_t head = raw.size() - body.size();
  const std::string total = std::to_string(body.size());
  httptest::ScriptedServer server({{"pkg", {raw}}}, cert_, ca_.path("dl.key"));
  __atomic_store_n(&gNow, 1000 * plat::kTicksPerSecond, __ATOMIC_SEQ_CST);
  plat::MonoClockFn previous = plat::setMonoClock(fakeClock);
  start(server, "/pkg/hold-" + std::to_string(head + 1000) + "/T.deb");
  // Connected and asked, on the frozen clock.
  ASSERT_TRUE(nettest::runUntil(
      mgr_, [&] { return server.requests().size() == 1; }, 60000));
  EXPECT_TRUE(wizard_.calls.empty());
  // Each second brings one report, until the first 1000 bytes show.
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  size_t seconds = 0;
  while ((wizard_.calls.empty() || wizard_.calls.back() != "1000/" + total) &&
         std::chrono::steady_clock::now() < limit) {
    advanceMs(1000);
    seconds++;
    mgr_.processOnce(10);
    ASSERT_EQ(seconds, wizard_.calls.size());
  }
  ASSERT_EQ("1000/" + total, wizard_.calls.back());
  for (int i = 0; i < 5; i++)
    mgr_.processOnce(10);
  advanceMs(999);
  mgr_.processOnce(10);
  EXPECT_EQ(seconds, wizard_.calls.size());
  advanceMs(1);
  mgr_.processOnce(10);
  EXPECT_EQ(seconds + 1, wizard_.calls.size());
  EXPECT_EQ("1000/" + total, wizard_.calls.back());

  server.release();
  finish();
  plat::setMonoClock(previous);
  EXPECT_EQ("", wizard_.error);
  EXPECT_EQ(seconds + 2, wizard_.calls.size());
  EXPECT_EQ("1/1", wizard_.calls.back());
  EXPECT_EQ(body, tltest::readFile(saved()));
}

// Every answer but 200 fails, as does a declared length above 1 GiB; a URI
// without a file name fails before anything is asked. Nothing is saved.
TEST_F(DownloadTest, RefusedAnswersAndUris)
{
  httptest::Script script{
      {"created", {"HTTP/1.1 201 Created\r\nContent-Length: 1\r\n\r\nx"}},
      {"moved",
       {"HTTP/1.1 301 Moved Permanently\r\nLocation: /p.deb\r\nContent-Length: 0\r\n\r\n"}},
      {"missing", {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}},
      {"broken", {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"}},
      {"huge", {"HTTP/1.1 200 OK\r\nContent-Length: 1073741825\r\n\r\nxx", true}},
      {"gib", {"HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\nxx", true}},
  };
  httptest::ScriptedServer server(script, cert_, ca_.path("dl.key"));
  const std::string base = "https://localhost:" + std::to_string(server.port());
  struct Case {
    std::string path, error, type;
    bool asked;
  };
  const Case cases[] = {
      {"/created/whole/p.deb", "HTTP status 201 (Created)", "HttpStatus201", true},
      {"/moved/whole/p.deb", "HTTP status 301 (Moved Permanently)", "HttpStatus301", true},
      {"/missing/whole/p.deb", "HTTP status 404 (Not Found)", "HttpStatus404", true},
      {"/broken/whole/p.deb", "HTTP status 500 (Internal Server Error)", "HttpStatus500", true},
      {"/huge/whole/p.deb",
       "Error reading response: Maximum body size of 1073741824 bytes exceeded", "", true},
      // At the limit the length is accepted; the short body then fails.
      {"/gib/whole/p.deb", "Error reading response: SSL Error: Underlying stream truncated", "",
       true},
      {"/pkg/whole/", "Bad package URI " + base + "/pkg/whole/", "", false},
      {"/pkg/whole/..", "Bad package URI " + base + "/pkg/whole/..", "", false},
  };
  size_t asked = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    start(server, c.path);
    finish();
    EXPECT_EQ(c.error, wizard_.error);
    EXPECT_EQ(c.type, wizard_.type);
    EXPECT_EQ("", saved());
    EXPECT_TRUE(wizard_.calls.empty());
    asked += c.asked;
    EXPECT_EQ(asked, server.requests().size());
  }
  EXPECT_EQ("", tltest::commandOutput("ls -A " +
                                      std::string(tlOrbSetup::getInstallerSessionDir().str())));
}

} // namespace
