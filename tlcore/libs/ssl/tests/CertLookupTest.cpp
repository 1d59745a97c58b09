// Certificate stores: the custom store, and the "cacerts.pem" store with
// its data-directory search, path checks, size limit and 900-s reload on
// the replacement monotonic clock.
#include <sys/stat.h>
#include <unistd.h>

#include "os/dirs.h"
#include "plat/Exception.h"
#include "plat/Resource.h"
#include "rootdir.h"
#include "ssl/SslCertLookup.h"
#include "sslTestUtil.h"
#include "testuser.h"

using namespace ssltest;
using ssl::SslCertificatePtr;
using ssl::SslCertLookupCustom;
using ssl::SslCertLookupSystemFile;

namespace {

plat::Time fakeMono = 1;
plat::Time fakeClock(plat::Time, bool* jumped)
{
  if (jumped)
    *jumped = false;
  return fakeMono;
}

SslCertificatePtr findSubjectOf(ssl::SslCertLookup& store, const SslCertificatePtr& c)
{
  return store.find(c->subjectDer().length(), c->subjectDer().data());
}

// A system-file store whose only data directory is dir ("" for none), on
// the replacement monotonic clock.
class SystemFileStore : public ::testing::Test {
protected:
  void SetUp() override
  {
    oldClock_ = plat::setMonoClock(fakeClock);
    fakeMono = 1000 * plat::kTicksPerSecond;
  }
  void TearDown() override
  {
    plat::setMonoClock(oldClock_);
    os::setSystemConfigDir("");
  }
  // find, as the error text or "" for success.
  std::string tryFind(ssl::SslCertLookup& store, const SslCertificatePtr& c, bool* found)
  {
    try {
      *found = (bool)findSubjectOf(store, c);
      return "";
    } catch (const plat::Exception& e) {
      *found = false;
      return e.str();
    }
  }
  plat::MonoClockFn oldClock_ = nullptr;
};

} // namespace

TEST(SslCertLookupCustom, OnePerSubjectLaterWins)
{
  std::string a = readFile(zooPath("selfsigned.pem")), b = readFile(zooPath("selfsigned2.pem")),
              root = readFile(zooPath("root.pem"));
  SslCertificatePtr first = cert("selfsigned"), second = cert("selfsigned2");
  ASSERT_EQ(bytes(first->subjectDer()), bytes(second->subjectDer()));
  ASSERT_NE(bytes(first->der()), bytes(second->der()));
  struct Case {
    std::string pem;
    SslCertificatePtr winner;
    size_t size;
  } cases[] = {{a + root + b, second, 2}, {b + a, first, 1}};
  for (const Case& c : cases) {
    SslCertLookupCustom store;
    store.addCertsFromPem((int)c.pem.size(), c.pem.data());
    EXPECT_EQ(c.size, store.size());
    SslCertificatePtr got = findSubjectOf(store, first);
    ASSERT_TRUE(got);
    EXPECT_EQ(bytes(c.winner->der()), bytes(got->der()));
  }
  SslCertLookupCustom store;
  EXPECT_FALSE(findSubjectOf(store, first));
  store.addCert(first);
  store.addCert(second);
  EXPECT_EQ(second, findSubjectOf(store, first));
  // A prefix of a subject is another key.
  EXPECT_FALSE(store.find(first->subjectDer().length() - 1, first->subjectDer().data()));
}

TEST_F(SystemFileStore, BuiltInBundleWhenNoFile)
{
  plat::BuiltInResource res = plat::findBuiltInResource("cacerts.pem");
  ASSERT_NE(nullptr, res.data);
  std::vector<SslCertificatePtr> builtIn =
      ssl::parsePemCertificates((int)res.size, static_cast<const char*>(res.data));
  ASSERT_FALSE(builtIn.empty());
  tltest::TempDir empty("tlssl");
  os::setSystemConfigDir(empty.path().c_str());
  tltest::LogCapture log("SslCertLookupSystemFile");
  std::unique_ptr<ssl::SslCertLookup> store = SslCertLookupSystemFile::create();
  EXPECT_TRUE(findSubjectOf(*store, builtIn.back()));
  EXPECT_FALSE(findSubjectOf(*store, cert("root")));
  EXPECT_EQ((std::vector<std::string>{"Using trusted certs from 'Built-in resource cacerts.pem'"}),
            log.lines());
}

TEST_F(SystemFileStore, ReloadEvery900Seconds)
{
  tltest::RootOnlyDir dir;
  if (dir.path().empty())
    GTEST_SKIP() << "needs root";
  std::string file = dir / "cacerts.pem";
  auto writeBundle = [&](const std::string& text, int mode) {
    FILE* f = fopen(file.c_str(), "we");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    chmod(file.c_str(), mode);
  };
  writeBundle(readFile(zooPath("root.pem")), 0644);
  os::setSystemConfigDir(dir.path().c_str());
  SslCertificatePtr root = cert("root"), inter = cert("inter");
  SslCertLookupSystemFile store;
  bool found;
  {
    tltest::LogCapture log("SslCertLookupSystemFile");
    EXPECT_EQ("", tryFind(store, root, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ((std::vector<std::string>{"Using trusted certs from '" + file + "'"}), log.lines());
    // Changed within the interval: not seen, not read again.
    writeBundle(readFile(zooPath("inter.pem")), 0644);
    fakeMono += SslCertLookupSystemFile::kReloadInterval - 1;
    EXPECT_EQ("", tryFind(store, root, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(1u, log.lines().size());
  }
  fakeMono += 1;
  EXPECT_EQ("", tryFind(store, inter, &found));
  EXPECT_TRUE(found);
  EXPECT_EQ("", tryFind(store, root, &found));
  EXPECT_FALSE(found);

  // A file that others could change, or too large, empties the store until
  // the next reload time.
  const tltest::TestUser* user = tltest::testUser();
  ASSERT_NE(nullptr, user);
  std::string unsafe = file + ": permissions are not restrictive enough";
  struct Case {
    const char* what;
    std::function<void()> spoil;
    std::string error;
  } cases[] = {
      {"owned by another user", [&] { EXPECT_EQ(0, chown(file.c_str(), user->uid, 0)); }, unsafe},
      {"group-writable", [&] { chmod(file.c_str(), 0664); }, unsafe},
      {"directory writable by others", [&] { chmod(dir.path().c_str(), 0757); },
       dir.path() + ": permissions are not restrictive enough"},
      {"16 MiB and one byte",
       [&] {
         writeBundle(readFile(zooPath("inter.pem")) +
                         std::string(SslCertLookupSystemFile::kMaxFileSize + 1 -
                                         readFile(zooPath("inter.pem")).size(),
                                     '\n'),
                     0644);
       },
       "Error: file is too large (16777217 > 16777216)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeBundle(readFile(zooPath("inter.pem")), 0644);
    EXPECT_EQ(0, chown(file.c_str(), 0, 0));
    chmod(dir.path().c_str(), 0755);
    c.spoil();
    fakeMono += SslCertLookupSystemFile::kReloadInterval;
    EXPECT_EQ(c.error, tryFind(store, inter, &found));
    // Fixed at once, but still empty until the interval has passed.
    writeBundle(readFile(zooPath("inter.pem")), 0644);
    EXPECT_EQ(0, chown(file.c_str(), 0, 0));
    chmod(dir.path().c_str(), 0755);
    fakeMono += SslCertLookupSystemFile::kReloadInterval - 1;
    EXPECT_EQ("", tryFind(store, inter, &found));
    EXPECT_FALSE(found);
    fakeMono += 1;
    EXPECT_EQ("", tryFind(store, inter, &found));
    EXPECT_TRUE(found);
  }
}
