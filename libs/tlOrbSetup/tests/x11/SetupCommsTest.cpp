// The single-instance channel: the server in this process against a
// /usr/bin/python3 client (version word, frames, limits, newest connection),
// the client against python stand-in servers (another version, another
// user, a silent one), and the program itself: a second start, the "-uri"
// forwarder and a pipe held by a server of another version.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <string>
#include <vector>

#include "HeadlessFrontEnd.h"
#include "ProgramRun.h"
#include "fullQueue.h"
#include "io/FdSelectManager.h"
#include "os/desktop.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "product/addresses.h"
#include "product/init.h"
#include "tlOrbSetup/SetupComms.h"

namespace {

using tltest::has;
using tltest::readWholeFile;

// Starts /usr/bin/python3 setupcomms_peer.py with args, standard output to
// outPath, as the given user (0: unchanged).
pid_t startPeer(const std::vector<std::string>& args, const std::string& outPath, uid_t uid = 0,
                gid_t gid = 0)
{
  std::vector<std::string> argv = {"/usr/bin/python3", TL_TEST_SUPPORT_DIR "/setupcomms_peer.py"};
  argv.insert(argv.end(), args.begin(), args.end());
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || dup2(out, 1) < 0)
      _exit(120);
    if (uid && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
      _exit(121);
    std::vector<char*> a;
    for (std::string& s : argv)
      a.push_back(&s[0]);
    a.push_back(nullptr);
    execv(a[0], a.data());
    _exit(122);
  }
  return pid;
}

bool waitFor(const std::function<bool()>& done, int seconds = 60)
{
  plat::Time end = plat::getMonoTime() + seconds * plat::kTicksPerSecond;
  while (!done()) {
    if (plat::getMonoTime() > end)
      return false;
    usleep(10000);
  }
  return true;
}

class ServerTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    product::initAppInfo(nullptr, "tlzarnconnectsetup", "tlOrbSetup_setupapp_name_r");
    os::setTmpDirForTest(tmp_.path().c_str());
    comms_ = std::make_unique<tlOrbSetup::SetupComms>(window_);
  }
  void TearDown() override
  {
    comms_.reset();
    os::setTmpDirForTest(nullptr);
  }

  // Runs the client steps while the loop runs; returns its output. Then
  // lets the loop run until `calls` window calls were made (and a moment
  // longer, so that extra calls show).
  std::string runClient(const std::vector<std::string>& steps, size_t calls)
  {
    std::vector<std::string> args = {"client", comms_->getPath()};
    args.insert(args.end(), steps.begin(), steps.end());
    std::string outPath = tmp_ / "client.out";
    pid_t pid = startPeer(args, outPath);
    int status = -1;
    plat::Time end = plat::getMonoTime() + 60 * plat::kTicksPerSecond;
    while (status < 0 && plat::getMonoTime() < end) {
      manager_.processOnce(20);
      int st;
      if (waitpid(pid, &st, WNOHANG) == pid)
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 100;
    }
    EXPECT_EQ(0, status);
    while (window_.calls().size() < calls && plat::getMonoTime() < end)
      manager_.processOnce(20);
    for (int i = 0; i < 10; i++)
      manager_.processOnce(10);
    return readWholeFile(outPath);
  }

  std::vector<std::string> calls() const
  {
    std::vector<std::string> out;
    for (const plat::String& c : window_.calls())
      out.push_back(c.str());
    return out;
  }

  tltest::TempDir tmp_{"tlcomms"};
  io::FdSelectManager manager_;
  tlOrbSetup::HeadlessFrontEnd::StandInWindow window_;
  std::unique_ptr<tlOrbSetup::SetupComms> comms_;
};

TEST_F(ServerTest, MessagesAsAPythonClientSendsThem)
{
  const std::string uri = "example.daziziz.setup://signin?code=1&s=%20";
  const std::string longest(8192, 'a');
  const std::string tooLong(8193, 'b');
  struct Case {
    const char* what;
    std::vector<std::string> steps;
    std::string out;
    std::vector<std::string> calls;
  };
  const std::string v = "version 5e7cbc03\n";
  const Case cases[] = {
      {"fg", {"conn", "fg"}, v, {"raiseAndActivate"}},
      {"uri", {"conn", "uri:" + tltest::toHex(uri)}, v, {"raiseAndActivate", "uri " + uri}},
      {"invalid UTF-8",
       {"conn", "uri:" + tltest::toHex("a\xff\xc3z")},
       v,
       {"raiseAndActivate", "uri a\xef\xbf\xbd\xef\xbf\xbdz"}},
      {"8192 bytes",
       {"conn", "uri:" + tltest::toHex(longest)},
       v,
       {"raiseAndActivate", "uri " + longest}},
      // Refused before any of it is read; the connection ends.
      {"8193 bytes", {"conn", "uri:" + tltest::toHex(tooLong), "wait"}, v + "closed\n", {}},
      // The body arrives in pieces: nothing happens before the last one.
      {"split body",
       {"conn", "raw:000403757269", "raw:0003000000", "raw:80020178"},
       v,
       {"raiseAndActivate", "uri x"}},
      // The frames promise more after the string; the client leaves.
      {"cut off after the string", {"conn", "raw:0009037572690000000178"}, v, {}},
      // The newer connection replaces the older one.
      {"newest",
       {"conn", "conn", "old:" + tltest::toHex("example.daziziz.setup://old"),
        "uri:" + tltest::toHex("example.daziziz.setup://new")},
       v + v,
       {"raiseAndActivate", "uri example.daziziz.setup://new"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    window_ = tlOrbSetup::HeadlessFrontEnd::StandInWindow();
    EXPECT_EQ(c.out, runClient(c.steps, c.calls.size()));
    EXPECT_EQ(c.calls, calls());
  }
}

TEST_F(ServerTest, AClientLeavingBeforeTheVersionWordIsDropped)
{
  for (int i = 0; i < 3; i++) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", comms_->getPath());
    ASSERT_EQ(0, connect(fd, (struct sockaddr*)&addr, sizeof(addr)));
    struct linger off = {1, 0}; // reset, not an orderly end
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof(off));
    close(fd);
  }
  for (int i = 0; i < 10; i++)
    manager_.processOnce(10);
  EXPECT_EQ("version 5e7cbc03\n", runClient({"conn", "fg"}, 1));
  EXPECT_EQ(std::vector<std::string>{"raiseAndActivate"}, calls());
}

// The client against stand-in servers.
class ClientTest : public ::testing::Test {
protected:
  void TearDown() override
  {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      tltest::waitChild(pid_);
    }
  }
  std::string path() const { return tmp_ / "dir/pipe"; }
  std::string log() const { return readWholeFile(tmp_ / std::to_string(runs_) + ".log"); }
  void startServer(std::vector<std::string> options)
  {
    runs_++;
    std::vector<std::string> args = {"server", path(), tmp_ / std::to_string(runs_) + ".log"};
    args.insert(args.end(), options.begin(), options.end());
    pid_ = startPeer(args, tmp_ / "server.out");
    ASSERT_TRUE(waitFor([&] { return has(log(), "ready\n"); }));
  }
  // The client's error, or "sent".
  std::string sendUri(const char* uri)
  {
    try {
      tlOrbSetup::SetupCommsClient client(path().c_str());
      client.send("fg", nullptr);
      client.send("uri", uri);
      client.close();
      return "sent";
    } catch (plat::Exception& e) {
      return e.str();
    }
  }

  tltest::TempDir tmp_{"tlcommsc"};
  pid_t pid_ = -1;
  int runs_ = 0;
};

TEST_F(ClientTest, SendsFramesAndRefusesWrongServers)
{
  struct Case {
    const char* what;
    std::vector<std::string> options;
    std::string result;
    std::string received;
  };
  std::string otherUser;
  if (const tltest::TestUser* u = tltest::programUser())
    otherUser = std::to_string(u->uid);
  const Case cases[] = {
      {"ours", {}, "sent", "ready\nfg \nuri 00000003c3a978\n"},
      {"another version",
       {"--version", "01020304"},
       "SetupComms version mismatch 1020304 instead of 5e7cbc03",
       "ready\n"},
      {"another user", {"--uid", otherUser}, "namedPipeCredCheck: uid mismatch", "ready\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.options.size() == 2 && c.options[1].empty())
      continue; // another user needs root
    startServer(c.options);
    EXPECT_EQ(c.result, sendUri("\xc3\xa9x"));
    EXPECT_TRUE(waitFor([&] { return log() == c.received; }, 10)) << log();
    TearDown();
    pid_ = -1;
  }
}

TEST_F(ClientTest, ASilentServerTimesOutAfterTenSeconds)
{
  startServer({"--silent"});
  plat::Time start = plat::getMonoTime();
  EXPECT_EQ("Timed out", sendUri("x").substr(0, 9));
  EXPECT_GE(plat::getMonoTime() - start, 10 * plat::kTicksPerSecond - plat::kTicksPerSecond / 10);
}

// A server whose queue stays full bounds the connect too.
TEST_F(ClientTest, AFullQueueTimesOutWithinTheBound)
{
  mkdir((tmp_ / "dir").c_str(), 0700);
  tltest::FullQueueListener full(path());
  tlOrbSetup::SetupCommsClient::setTimeoutForTest(1000);
  plat::Time start = plat::getMonoTime();
  EXPECT_EQ("connect: Connection timed out (110)", sendUri("x"));
  plat::Time waited = plat::getMonoTime() - start;
  tlOrbSetup::SetupCommsClient::setTimeoutForTest(0);
  EXPECT_GE(waited, plat::kTicksPerSecond - plat::kTicksPerSecond / 10);
  EXPECT_LT(waited, 5 * plat::kTicksPerSecond);
}

// The program as a real process.
class ProgramTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    if (geteuid() == 0 && !tltest::testUser())
      GTEST_SKIP() << "needs the test user when run as root";
  }
};

int count(const std::string& text, const std::string& part)
{
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    n++;
  return n;
}

TEST_F(ProgramTest, SecondStartAndUriForwarder)
{
  tltest::ProgramRun wizard({}, {tltest::wizardDisplay()});
  ASSERT_TRUE(wizard.waitShown());
  ASSERT_TRUE(has(wizard.log(), "SetupComms: Listening on "));

  // A second start raises the wizard and ends before opening its log.
  tltest::ProgramRun::Result second = tltest::runProgram({});
  EXPECT_EQ(0, second.status) << second.err;
  EXPECT_EQ("", second.log);
  EXPECT_TRUE(wizard.waitForLog("SetupWindow: raiseAndActivate"));

  const std::string uri = "Example.Daziziz.Setup://signin/done?t=a%2Fb&x=\xc3\xa9";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const std::string error =
      "tlzarnconnectsetup: Error contacting Tessaly Daziziz Setup\n\nDetails: ";
  const Case cases[] = {
      {{"-uri", "https://example.daziziz.setup/x"}, 1, error + "Unsupported URI scheme https\n"},
      {{"-uri"}, 1, error + "Unsupported URI scheme \n"},
      {{"-uri", "example.daziziz.setup:/x"}, 1, error + "Unsupported URI scheme \n"},
      {{"-uri", uri, "ignored"}, 0, ""},
  };
  for (const Case& c : cases) {
    tltest::ProgramRun::Result r = tltest::runProgram(c.args);
    EXPECT_EQ(c.status, r.status) << c.args.size();
    EXPECT_EQ(c.err, r.err);
  }
  // The URI unchanged; the refused ones never touched the pipe.
  EXPECT_TRUE(wizard.waitForLog("Error handling URI '" + uri + "'"));
  EXPECT_EQ(2, count(wizard.log(), "SetupComms: Got connection"));
  EXPECT_EQ(0, wizard.finish(SIGTERM).status);
}

// The browser's callback: with the scheme registered for the program,
// xdg-open and gio open start "-uri", which hands the URI to the wizard.
TEST_F(ProgramTest, CallbackRoadThroughTheDesktop)
{
  tltest::ProgramRun wizard({}, {tltest::wizardDisplay()});
  ASSERT_TRUE(wizard.waitShown());
  std::string apps = wizard.home() + "/.local/share/applications";
  std::string entry = apps + "/" + product::kUriScheme + ".desktop";
  plat::String text = os::desktopEntryText(product::kUriScheme, "Setup", TL_PROGRAM);
  auto asUser = [&](const std::string& cmd) {
    std::vector<std::string> argv = {
        "env", "-i", "HOME=" + wizard.home(), "PATH=/usr/bin:/bin", "DISPLAY=:99", "sh", "-c", cmd};
    if (tltest::programUser())
      return tltest::runAsTestUser(argv);
    std::string line;
    for (const std::string& a : argv)
      line += "'" + a + "' ";
    return system(line.c_str()) == 0 ? 0 : 1;
  };
  ASSERT_EQ(0,
            asUser("mkdir -p '" + apps + "' && printf '%s' '" + text.str() + "' > '" + entry +
                   "' && xdg-mime default " + product::kUriScheme + ".desktop x-scheme-handler/" +
                   product::kUriScheme + " && update-desktop-database '" + apps + "'"));
  for (const char* opener : {"xdg-open", "gio open"}) {
    std::string uri = std::string(product::kUriScheme) + "://signin?via=" + opener[0] + "&s=%2F";
    EXPECT_EQ(0, asUser(std::string(opener) + " '" + uri + "' >/dev/null 2>&1")) << opener;
    EXPECT_TRUE(wizard.waitForLog("Error handling URI '" + uri + "'")) << opener;
  }
  EXPECT_EQ(0, wizard.finish(SIGTERM).status);
}

TEST_F(ProgramTest, APipeOfAnotherVersionStopsTheStartAtTheListener)
{
  const tltest::TestUser* user = tltest::programUser();
  uid_t uid = user ? user->uid : geteuid();
  tltest::TempDir tmp("tlcommsv");
  if (user) {
    ASSERT_EQ(0, chown(tmp.path().c_str(), user->uid, user->gid));
  }
  std::string path = "/tmp/.zarn-" + std::to_string(uid) + "/tlzarnconnectsetup.SetupComms";
  pid_t server = startPeer({"server", path, tmp / "server.log", "--version", "5e7cbc04"},
                           tmp / "server.out", user ? user->uid : 0, user ? user->gid : 0);
  ASSERT_TRUE(waitFor([&] { return has(readWholeFile(tmp / "server.log"), "ready\n"); }));
  // The error waits in the X layer's message box until it is answered.
  tltest::ProgramRun run({"-Log=*:stderr:0"}, {tltest::wizardDisplay()});
  std::string answer = "DISPLAY=" + tltest::sharedXvfb().display() +
                       " timeout 10 xdotool search --onlyvisible --name . windowfocus --sync key Return"
                       " >/dev/null 2>&1";
  // The box closes on the key press, so xdotool may find its window gone
  // for the release and fail: the program's end is what tells.
  for (int i = 0; i < 50 && !run.ended(); i++) {
    if (system(answer.c_str()) != 0 || !run.ended())
      usleep(200000);
  }
  EXPECT_TRUE(run.ended());
  tltest::ProgramRun::Result r = run.finish();
  kill(server, SIGKILL);
  tltest::waitChild(server);
  unlink(path.c_str());
  EXPECT_EQ(1, r.status);
  EXPECT_TRUE(has(r.err, "name already bound")) << r.err;
}

} // namespace
