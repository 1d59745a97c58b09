// The admin helper and its client as real processes: the client launches
// the built program with "-helper" (directly as root) and drives commands
// and settings through it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "io/FdSelectManager.h"
#include "os/AppInfo.h"
#include "os/AppLoop.h"
#include "os/ProcessMonitor.h"
#include "os/elevate.h"
#include "os/paths.h"
#include "plat/Configuration.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/Time.h"
#include "rootdir.h"
#include "childio.h"
#include "ctrlcommsFake.h"
#include "testuser.h"
#include "testutil.h"
#include "tlutil/ConfigFile.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/SessionFileCopies.h"

namespace {

using tlOrbSetup::AdminHelperClient;

tltest::CaptureDest capture("helpercapture", tltest::CaptureDest::kSourceText);

// Everything the client reports, in order.
class Recorder : public AdminHelperClient::Callback,
                 public AdminHelperClient::RunCmdCallback,
                 public AdminHelperClient::SvrSettingsCallback {
public:
  void helperLaunched() override { launched++; }
  void helperLaunchFailed(const plat::Exception& e) override
  {
    failed++;
    failure = e.str();
  }
  void result(int s, const plat::Exception& e) override
  {
    results++;
    status = s;
    error = e.str();
    errorType = e.getType();
    if (onResult)
      onResult();
  }
  void output(int length, const char* bytes) override
  {
    chunks++;
    maxChunk = std::max(maxChunk, length);
    out.append(bytes, (size_t)length);
  }
  void result(const plat::Exception& e) override
  {
    settingsResults++;
    settingsError = e.str();
  }

  int launched = 0, failed = 0, results = 0, settingsResults = 0, chunks = 0, maxChunk = 0;
  int status = 0;
  std::string failure, error, errorType, settingsError, out;
  std::function<void()> onResult;
};

class AdminHelperTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    if (geteuid() != 0)
      GTEST_SKIP() << "the helper runs as root";
    profile_ = "admintest-" + std::to_string(getpid());
    setenv("ZARN_PROFILE", profile_.c_str(), 1);
    configDir_ = std::string(getenv("HOME") ? getenv("HOME") : "/root") + "/.zarn/profiles/" +
                 profile_ + "/config.d";
    AdminHelperClient::setProgramForTest(TL_PROGRAM);
    plat::setLogOverride("*:helpercapture:100");
    capture.clear();
    loop_.reset(new os::AppLoop());
    client_.reset(new AdminHelperClient(&rec_));
  }
  void TearDown() override
  {
    client_.reset();
    settle();
    loop_.reset();
    AdminHelperClient::setProgramForTest(nullptr);
    plat::setLogOverride(nullptr);
    if (!profile_.empty()) {
      int status = 0;
      tltest::runCommand("rm -rf '" + configDir_.substr(0, configDir_.size() - 9) + "'", &status);
    }
  }

  bool runUntil(const std::function<bool()>& done, int limitMs = 60000)
  {
    plat::Time end = plat::getMonoTime() + (plat::Time)limitMs * plat::kTicksPerMilli;
    while (!done()) {
      if (plat::getMonoTime() > end)
        return false;
      os::AppLoop::selectManager().processOnce(50);
    }
    return true;
  }
  void settle()
  {
    for (int i = 0; i < 5; i++)
      os::AppLoop::selectManager().processOnce(10);
  }
  void launch()
  {
    client_->launch();
    ASSERT_TRUE(runUntil([&] { return rec_.launched + rec_.failed > 0; }));
    ASSERT_EQ(1, rec_.launched) << rec_.failure;
  }
  void run(const std::vector<std::string>& args)
  {
    std::vector<plat::String> a;
    for (const std::string& s : args)
      a.emplace_back(s.c_str());
    int before = rec_.results;
    rec_.out.clear();
    client_->runCmd(a, &rec_);
    ASSERT_TRUE(runUntil([&] { return rec_.results > before; }));
  }

  std::string profile_, configDir_;
  Recorder rec_;
  std::unique_ptr<os::AppLoop> loop_;
  std::unique_ptr<AdminHelperClient> client_;
};

TEST_F(AdminHelperTest, CommandsAndResults)
{
  launch();
  EXPECT_FALSE(client_->haveCloudCredsSvr());
  struct Case {
    std::vector<std::string> args;
    std::string out;
    int status;
    const char* error;
  };
  const Case cases[] = {
      {{"/bin/true"}, "", 0, ""},
      {{"/bin/sh", "-c", "echo out; echo err >&2; exit 2"}, "out\nerr\n", 2, ""},
      {{"/bin/sh", "-c", "kill -9 $$"}, "", -9, ""},
      {{"/nonexistent/prog"}, "", 0, "nonexistent"},
      // No shell: the argument is one word.
      {{"/bin/echo", "a;b $HOME"}, "a;b $HOME\n", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    run(c.args);
    EXPECT_EQ(c.out, rec_.out);
    EXPECT_EQ(c.status, rec_.status);
    if (*c.error) {
      EXPECT_NE(std::string::npos, rec_.error.find(c.error)) << rec_.error;
      EXPECT_NE("", rec_.errorType);
    } else {
      EXPECT_EQ("", rec_.error);
    }
  }
  // The helper's own log lines arrive under "Admin".
  EXPECT_TRUE(runUntil([&] { return capture.saw("Admin: AdminHelper: read message RunCmd"); }))
      << capture.all();
}

TEST_F(AdminHelperTest, CloudCredentialsRecordSeen)
{
  int status = 0;
  tltest::runCommand("mkdir -p '" + configDir_ + "/tlzarnserver-x11.d' && echo x > '" + configDir_ +
                         "/tlzarnserver-x11.d/CloudCredentials.bed'",
                     &status);
  ASSERT_EQ(0, status);
  launch();
  ASSERT_TRUE(runUntil([&] { return client_->haveCloudCredsSvr(); }));
}

TEST_F(AdminHelperTest, LargeOutputInOrder)
{
  launch();
  // 10 MB of numbered lines, standard output and error interleaved.
  const std::string script =
      "i=0; while [ $i -lt 50 ]; do head -c 100000 /dev/zero | tr '\\0' o; head -c 100000 "
      "/dev/zero | tr '\\0' e >&2; i=$((i+1)); done";
  run({"/bin/sh", "-c", script});
  EXPECT_EQ(0, rec_.status);
  EXPECT_EQ(10000000u, rec_.out.size());
  EXPECT_LE(rec_.maxChunk, 4096);
  std::string expected;
  for (int i = 0; i < 50; i++)
    expected += std::string(100000, 'o') + std::string(100000, 'e');
  EXPECT_TRUE(expected == rec_.out);
}

// A wizard that does not read holds the command up rather than having the
// helper keep its output.
TEST_F(AdminHelperTest, OutputWaitsForTheWizard)
{
  launch();
  tltest::TempDir dir;
  const std::string done = dir.path() + "/done";
  rec_.out.clear();
  client_->runCmd({plat::String("/bin/sh"), plat::String("-c"),
                   plat::String(("head -c 33554432 /dev/zero; touch '" + done + "'").c_str())},
                  &rec_);
  usleep(1000000);
  EXPECT_NE(0, access(done.c_str(), F_OK));
  ASSERT_TRUE(runUntil([&] { return rec_.results > 0; }));
  EXPECT_EQ(33554432u, rec_.out.size());
  EXPECT_EQ(0, access(done.c_str(), F_OK));
}

TEST_F(AdminHelperTest, DaemonKeepingTheOutputOpenDelaysTheResultAtMostTwoSeconds)
{
  launch();
  plat::Time start = plat::getMonoTime();
  run({"/bin/sh", "-c", "sleep 30 & echo $!"});
  double waited = (double)(plat::getMonoTime() - start) / plat::kTicksPerSecond;
  EXPECT_EQ(0, rec_.status);
  EXPECT_LT(waited, 25.0); // not held back until the daemon ends
  int daemon = atoi(rec_.out.c_str());
  ASSERT_GT(daemon, 1) << rec_.out;
  kill(daemon, SIGKILL);
}

TEST_F(AdminHelperTest, ResultCallbackStartsTheNextCommand)
{
  launch();
  rec_.onResult = [&] {
    rec_.onResult = nullptr;
    client_->runCmd({plat::String("/bin/echo"), plat::String("second")}, &rec_);
  };
  run({"/bin/echo", "first"});
  ASSERT_TRUE(runUntil([&] { return rec_.results == 2; }));
  EXPECT_EQ("first\nsecond\n", rec_.out);
}

TEST_F(AdminHelperTest, SettingsWrittenAndFailedReloadReported)
{
  launch();
  plat::CaseInsensitiveStringMap values;
  values[plat::String("Password")] = plat::String("secretvalue");
  values[plat::String("Encryption")] = plat::String("AlwaysOn");
  values[plat::String("CloudJoinToken")] = plat::String("secretjoin");
  values[plat::String("ApiKey")] = plat::String("secretapi");
  client_->svrSettings(values, &rec_);
  ASSERT_TRUE(runUntil([&] { return rec_.settingsResults == 1; }));
  // No server runs: the file is written, the reload fails.
  EXPECT_NE("", rec_.settingsError);
  plat::CaseInsensitiveStringMap file;
  plat::readConfigFileToMap((configDir_ + "/tlzarnserver-x11").c_str(), file, nullptr);
  EXPECT_STREQ("AlwaysOn", file[plat::String("encryption")].get());
  EXPECT_STREQ("secretvalue", file[plat::String("password")].get());
  EXPECT_TRUE(runUntil([&] { return capture.saw("Admin: AdminHelper: Set 'Password'='<hidden>'"); }))
      << capture.all();
  EXPECT_TRUE(runUntil([&] { return capture.saw("Admin: AdminHelper: Set 'ApiKey'='<hidden>'"); }));
  EXPECT_EQ(std::string::npos, capture.all().find("secret")) << capture.all();
}

// Settings up to the channel's 1 MiB on the wire go out; one byte more is
// refused before sending, and the next request still goes out.
TEST_F(AdminHelperTest, SettingsOverTheChannelLimitRefusedBeforeSending)
{
  launch();
  for (int extra : {0, 1}) {
    plat::CaseInsensitiveStringMap values;
    for (int i = 0; i < 128; i++)
      values[plat::format("k%04d", i)] = plat::String(std::string(i < 127 ? 8192 : 6450 + extra, 'v').c_str());
    if (extra) {
      try {
        client_->svrSettings(values, &rec_);
        ADD_FAILURE() << "sent";
      } catch (plat::Exception& e) {
        EXPECT_NE(nullptr, strstr(e.str(), "larger than 1048576 bytes")) << e.str();
      }
      continue;
    }
    client_->svrSettings(values, &rec_);
    ASSERT_TRUE(runUntil([&] { return rec_.settingsResults == 1; }));
  }
  client_->svrSettings(plat::CaseInsensitiveStringMap(), &rec_);
  ASSERT_TRUE(runUntil([&] { return rec_.settingsResults == 2; }));
}

TEST_F(AdminHelperTest, ReloadReachesARootServerOnly)
{
  TL_REQUIRE_TEST_USER();
  launch();
  std::string dir = "/tmp/.zarn-zarnservice";
  mkdir(dir.c_str(), 0700);
  std::string path = dir + "/tlzarnserver-x11.CtrlComms";
  for (bool asRoot : {true, false}) {
    SCOPED_TRACE(asRoot ? "root" : "test user");
    std::vector<std::string> options;
    if (!asRoot)
      options = {"--uid", std::to_string(tltest::testUser()->uid)};
    tltest::FakeServer fake(path, options);
    int before = rec_.settingsResults;
    // Zero pairs still reload.
    client_->svrSettings(plat::CaseInsensitiveStringMap(), &rec_);
    ASSERT_TRUE(runUntil([&] { return rec_.settingsResults > before; }));
    if (asRoot) {
      EXPECT_EQ("", rec_.settingsError);
      EXPECT_EQ((std::vector<std::string>{"verifyChannel ", "reload "}), fake.messages());
    } else {
      EXPECT_NE(std::string::npos, rec_.settingsError.find("uid mismatch")) << rec_.settingsError;
    }
  }
}

TEST_F(AdminHelperTest, DyingHelperClearsRequestsForARelaunch)
{
  launch();
  // The command kills its parent, the helper.
  client_->runCmd({plat::String("/bin/sh"), plat::String("-c"), plat::String("kill -9 $PPID")}, &rec_);
  ASSERT_TRUE(runUntil([&] { return rec_.failed == 1; }));
  EXPECT_EQ("", rec_.failure);
  EXPECT_EQ(0, rec_.results);
  client_->launch();
  ASSERT_TRUE(runUntil([&] { return rec_.launched == 2; }));
  run({"/bin/echo", "again"});
  EXPECT_EQ("again\n", rec_.out);
}

// Holds an fcntl write lock on path for ms, as dpkg, apt and rpm take theirs.
pid_t holdLock(const std::string& path, int ms)
{
  int ready[2];
  EXPECT_EQ(0, pipe(ready));
  pid_t pid = tltest::spawn([&] {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    if (fd < 0 || fcntl(fd, F_SETLK, &fl) != 0 || write(ready[1], "x", 1) != 1)
      return 1;
    usleep(ms * 1000);
    return 0;
  });
  char b;
  EXPECT_EQ(1, read(ready[0], &b, 1));
  close(ready[0]);
  close(ready[1]);
  return pid;
}

// Another package tool's lock is waited for, the user told; the command
// runs once it is free, or fails unstarted with the reason when it stays.
TEST_F(AdminHelperTest, BusyPackageToolIsWaitedFor)
{
  plat::ConfigParameter* adminArgs = plat::Configuration::global().find("_AdminArgs");
  adminArgs->setParam("-_PkgToolLockWait=2", plat::kPriorityPreference);
  launch();
  adminArgs->setParam("", plat::kPriorityPreference);
  tltest::TempDir dir;
  const std::vector<std::string> dpkg = {"/usr/bin/dpkg", "--admindir=" + dir.path(), "-i",
                                         "/nonexistent.deb"};
  struct Case {
    std::vector<std::string> args;
    std::string lock;
    int holdMs;
    const char* errorType;
  } cases[] = {
      {dpkg, dir / "lock-frontend", 30000, "PkgToolBusy"},
      {dpkg, dir / "lock", 800, ""},
      {{"/usr/bin/rpm", "--dbpath", dir.path(), "-U", "/nonexistent.rpm"}, dir / ".rpm.lock", 30000,
       "PkgToolBusy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lock);
    pid_t holder = holdLock(c.lock, c.holdMs);
    plat::Time start = plat::getMonoTime();
    run(c.args);
    double waited = (double)(plat::getMonoTime() - start) / plat::kTicksPerSecond;
    kill(holder, SIGKILL);
    tltest::waitChild(holder);
    EXPECT_EQ(0u, rec_.out.find("Another package manager is busy. Waiting up to 2 seconds"))
        << rec_.out;
    EXPECT_EQ(c.errorType, rec_.errorType) << rec_.error << "\n" << rec_.out;
    if (*c.errorType) {
      EXPECT_EQ("Another package manager is still busy. Wait until it has finished, then try again.",
                rec_.error);
      EXPECT_GE(waited, 1.9);
      EXPECT_LT(waited, 30.0);
    } else {
      // The tool ran with its lock free: only its own complaint.
      EXPECT_NE(std::string::npos, rec_.out.find("cannot access archive")) << rec_.out;
    }
  }
}

TEST_F(AdminHelperTest, CommandWithoutAHelperFailsOnTheNextPass)
{
  client_->runCmd({plat::String("/bin/true")}, &rec_);
  EXPECT_EQ(0, rec_.results);
  ASSERT_TRUE(runUntil([&] { return rec_.results == 1; }, 5000));
  EXPECT_EQ("Admin helper not running", rec_.error);
}

TEST_F(AdminHelperTest, LaunchTwiceAndWizardEnd)
{
  client_->launch();
  client_->launch();
  ASSERT_TRUE(runUntil([&] { return rec_.launched > 0; }));
  EXPECT_EQ(1, rec_.launched);
  EXPECT_TRUE(capture.saw("AdminHelperClient: already launching"));
  // Ending the client mid-command ends the helper (status 0).
  client_->runCmd({plat::String("/bin/sleep"), plat::String("1")}, &rec_);
  settle();
  client_.reset();
  EXPECT_EQ(0, rec_.failed);
}

// The test user reaches a root helper through real sudo (the test command
// allows the program without a password).
TEST(AdminHelperSudo, TestUserThroughSudo)
{
  TL_REQUIRE_TEST_USER();
  if (tltest::runAsTestUser({"/bin/sh", "-c", std::string("/usr/bin/sudo -n -l ") + TL_PROGRAM +
                                                  " >/dev/null 2>&1"}) != 0)
    GTEST_SKIP() << "needs the sudo drop-in that scripts/sudo-test-dropin.sh installs";
  std::string profile = "adminsudo-" + std::to_string(getpid());
  tltest::TempDir tmp;
  chmod(tmp.path().c_str(), 01777);
  std::string report = tltest::childReport(
      [&] {
        setenv("ZARN_PROFILE", profile.c_str(), 1);
        os::AppInfo::set("tlzarnconnectsetup", nullptr, "zarn", nullptr, nullptr);
        os::setTmpDirForTest(tmp.path().c_str());
        os::ElevateCmd.setParam("/usr/bin/sudo -n", plat::kPriorityPreference);
        AdminHelperClient::setProgramForTest(TL_PROGRAM);
        os::AppLoop loop;
        Recorder rec;
        AdminHelperClient client(&rec);
        client.launch();
        plat::Time end = plat::getMonoTime() + 60 * plat::kTicksPerSecond;
        auto until = [&](const std::function<bool()>& done) {
          while (!done() && plat::getMonoTime() < end)
            os::AppLoop::selectManager().processOnce(50);
          return done();
        };
        if (!until([&] { return rec.launched + rec.failed > 0; }) || !rec.launched)
          return "not launched: " + rec.failure;
        client.runCmd({plat::String("/usr/bin/id"), plat::String("-u")}, &rec);
        if (!until([&] { return rec.results > 0; }))
          return std::string("no result");
        return rec.out + std::to_string(rec.status);
      },
      tltest::ChildUser::kTestUser);
  int status = 0;
  tltest::runCommand("rm -rf /root/.zarn/profiles/" + profile, &status);
  EXPECT_EQ("0\n0", report);
}

// Root copying the test user's session files: what the user prepared in
// its session folder either becomes root's private copy of the bytes the
// wizard saved, or is refused with the reason.
TEST(SessionFileCopies, RootCopiesOnlyTheUsersUnchangedFiles)
{
  TL_REQUIRE_TEST_USER();
  const std::string uid = std::to_string(tltest::testUser()->uid);
  tltest::TempDir tmp("copiestmp");
  tltest::RootOnlyDir root;
  chmod(tmp.path().c_str(), 01777);
  os::AppInfo::set("tlcopies", nullptr, "zarn", nullptr, nullptr);
  const std::string user = tmp / (".zarn-" + uid), s = user + "/installer/s";
  const auto saved = tlOrbSetup::adminmsg::fileDigest(1, 5, "saved");
  const struct {
    std::string asUser, asRoot, file, error; // file "" is s/f; error "" copied
  } cases[] = {
      {"printf saved >f", "", "", ""},
      {"printf other >f", "", "",
       s + "/f changed after the setup program saved it; it was not used"},
      {"ln -s /etc/shadow f", "", "", s + "/f is a symbolic link"},
      {"mkfifo f", "", "", s + "/f is not a regular file of user " + uid},
      {"", "printf saved >f", "", s + "/f is not a regular file of user " + uid},
      {"printf saved >f; chmod 777 .", "", "", s + " is not a private folder of user " + uid},
      {"ln -s s ../l", "", user + "/installer/l/f",
       user + "/installer/l is a symbolic link or not a folder"},
      {"", "", tmp / "s/f", tmp / "s/f is not in a session folder of user " + uid},
  };
  for (const auto& c : cases) {
    tltest::commandOutput("rm -rf " + user);
    ASSERT_EQ(0, tltest::runAsTestUser({"/bin/sh", "-c", "mkdir -p $0 && cd $0\n" + c.asUser, s}));
    tltest::commandOutput("cd " + s + "\n" + c.asRoot);
    std::string copy, folder = root / "copies-";
    try {
      tlOrbSetup::SessionFileCopies copies(tltest::testUser()->uid, root.path().c_str());
      copy = copies.copy((c.file.empty() ? s + "/f" : c.file).c_str(), saved.sha256).str();
      struct stat st;
      EXPECT_TRUE(stat(copy.c_str(), &st) == 0 && st.st_uid == 0 && st.st_mode == 0100600 &&
                  copy.substr(0, folder.size()) + tltest::readFile(copy) == folder + "saved");
    } catch (plat::Exception& e) {
      EXPECT_EQ(c.error, e.str());
    }
    EXPECT_EQ(c.error.empty(), !copy.empty() && !plat::pathExists(copy.c_str())) << c.asUser;
  }
}

} // namespace
