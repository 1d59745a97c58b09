// Bad input against a real root helper: raw frames written to its pipe. After
// each bad message the helper must answer nothing for it and still serve a
// good one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "os/AppLoop.h"
#include "os/LaunchProcess.h"
#include "testutil.h"

namespace {

std::string str32(const std::string& s)
{
  uint32_t n = (uint32_t)s.size();
  return std::string{(char)(n >> 24), (char)(n >> 16), (char)(n >> 8), (char)n} + s;
}

struct Msg {
  std::string name;
  std::string body;
};

class RawHelper {
public:
  // The helper gets its end of the pipe as descriptor 3, the way a launch
  // without elevation hands it over.
  RawHelper()
  {
    os::LaunchProcess::Cfg cfg;
    cfg.args = {plat::String(TL_PROGRAM), plat::String("-helper"), plat::String("3")};
    launcher_.reset(new os::LaunchProcess(cfg));
    fd_ = launcher_->addSocketPair({3});
    launcher_->start();
  }
  ~RawHelper()
  {
    if (fd_ >= 0)
      close(fd_);
  }
  int pid() const { return launcher_->pid(); }
  // Closes the pipe, as the wizard ending does; the helper's exit code.
  int endAndWait()
  {
    close(fd_);
    fd_ = -1;
    int code = -100;
    return launcher_->wait(&code, 60000) ? code : -100;
  }

  void sendRaw(const std::string& bytes)
  {
    ASSERT_EQ((ssize_t)bytes.size(), write(fd_, bytes.data(), bytes.size()));
  }
  // One message in frames of at most 32767 bytes.
  static std::string frames(const std::string& name, const std::string& body)
  {
    std::string payload = std::string(1, (char)name.size()) + name + body;
    std::string out;
    size_t pos = 0;
    do {
      size_t n = std::min<size_t>(payload.size() - pos, 0x7fff);
      uint16_t h = (uint16_t)(n | (pos + n == payload.size() ? 0x8000 : 0));
      out += std::string{(char)(h >> 8), (char)h} + payload.substr(pos, n);
      pos += n;
    } while (pos < payload.size());
    return out;
  }
  void send(const std::string& name, const std::string& body) { sendRaw(frames(name, body)); }

  // The next message; an empty name when the helper closed or stayed silent.
  Msg next(int timeoutMs = 30000)
  {
    std::string payload;
    for (;;) {
      std::string h = readExact(2, timeoutMs);
      if (h.size() < 2)
        return Msg();
      int header = ((uint8_t)h[0] << 8) | (uint8_t)h[1];
      payload += readExact(header & 0x7fff, timeoutMs);
      if (header & 0x8000)
        break;
    }
    size_t nameLen = payload.empty() ? 0 : (uint8_t)payload[0];
    return Msg{payload.substr(1, nameLen), payload.substr(1 + nameLen)};
  }

  // Runs echo and returns what came before its result, names joined.
  std::string probe()
  {
    send("RunCmd", "\x02" + str32("/bin/echo") + str32("alive"));
    std::string seen;
    for (Msg m = next(); !m.name.empty(); m = next()) {
      seen += m.name + (m.name == "RunCmdOutput" ? ":" + m.body.substr(2) : "") + " ";
      if (m.name == "RunCmdResult")
        break;
    }
    return seen;
  }

private:
  std::string readExact(int n, int timeoutMs)
  {
    std::string out;
    while ((int)out.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0)
        return out;
      char buf[65536];
      ssize_t r = read(fd_, buf, std::min<size_t>(sizeof buf, n - out.size()));
      if (r <= 0)
        return out;
      out.append(buf, (size_t)r);
    }
    return out;
  }

  std::unique_ptr<os::LaunchProcess> launcher_;
  int fd_ = -1;
};

// The helpers' profile (settings land there), removed afterwards.
class TestProfile {
public:
  TestProfile() : name_("admininput-" + std::to_string(getpid()))
  {
    setenv("ZARN_PROFILE", name_.c_str(), 1);
  }
  ~TestProfile()
  {
    unsetenv("ZARN_PROFILE");
    int status = 0;
    tltest::runCommand("rm -rf '" + std::string(getenv("HOME")) + "/.zarn/profiles/" + name_ + "'",
                       &status);
  }

private:
  std::string name_;
};

TEST(AdminHelperInput, RefusedMessagesAnswerNothing)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "the helper runs as root";
  TestProfile profile;
  os::AppLoop loop;
  RawHelper helper;
  EXPECT_EQ("HaveCloudCredsSvr", helper.next().name);
  const std::string good = "RunCmdOutput:alive\n RunCmdResult ";
  ASSERT_EQ(good, helper.probe());
  const std::string a1025(1025, 'a');
  const std::string k8193(8193, 'k');
  struct Case {
    const char* what;
    std::string name, body;
  };
  const Case cases[] = {
      {"truncated", "RunCmd", "\x02" + str32("/bin/echo")},
      {"truncated string", "RunCmd", "\x01\x00\x00\x00\x09/bin/"},
      {"1025-byte argument", "RunCmd", "\x02" + str32("/bin/echo") + str32(a1025)},
      {"8193-byte key", "SvrSettings", std::string("\x00\x01", 2) + str32(k8193) + str32("v")},
      {"no argument", "RunCmd", std::string("\x00", 1)},
      {"NUL in argument", "RunCmd", "\x01" + str32(std::string("/bin/touch\0/tmp/x", 17))},
      {"program on no path", "RunCmd", "\x02" + str32("echo") + str32("x")},
      {"empty program", "RunCmd", "\x01" + str32("")},
      {"relative program", "RunCmd", "\x01" + str32("bin/echo")},
      {"unknown name", "RunCmdNow", "\x01" + str32("/bin/true")},
      {"cancel, nothing running", "RunCmdCancel", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    helper.send(c.name, c.body);
    EXPECT_EQ(good, helper.probe());
  }
  // At the limits: 1,024-byte arguments run, invalid UTF-8 is repaired.
  helper.send("RunCmd", "\x02" + str32("/bin/echo") + str32(std::string(1024, 'b')));
  Msg out = helper.next();
  EXPECT_EQ("RunCmdOutput", out.name);
  EXPECT_EQ(std::string(1024, 'b') + "\n", out.body.substr(2));
  EXPECT_EQ("RunCmdResult", helper.next().name);
  helper.send("RunCmd", "\x02" + str32("/bin/echo") + str32("a\xff"));
  EXPECT_EQ("a\xef\xbf\xbd\n", helper.next().body.substr(2));
  EXPECT_EQ("RunCmdResult", helper.next().name);

  // A second command while one runs is refused; the first completes.
  helper.send("RunCmd", "\x02" + str32("/bin/sleep") + str32("0.5"));
  helper.send("RunCmd", "\x02" + str32("/bin/echo") + str32("second"));
  Msg r = helper.next();
  EXPECT_EQ("RunCmdResult", r.name);
  EXPECT_EQ(std::string("\x01\x00\x00\x00\x00", 5), r.body);
  EXPECT_EQ(good, helper.probe());

  // Cancelled mid-output: nothing more for that command.
  helper.send("RunCmd", "\x02" + str32("/usr/bin/yes") + str32("y"));
  EXPECT_EQ("RunCmdOutput", helper.next().name);
  helper.send("RunCmdCancel", "");
  helper.send("RunCmd", "\x02" + str32("/bin/echo") + str32("alive"));
  bool sawAlive = false;
  for (Msg m = helper.next();; m = helper.next()) {
    ASSERT_FALSE(m.name.empty());
    if (m.name == "RunCmdOutput") {
      // Output already on its way before the cancel may still come.
      if (m.body.substr(2) == "alive\n")
        sawAlive = true;
      else
        EXPECT_FALSE(sawAlive);
      continue;
    }
    EXPECT_EQ("RunCmdResult", m.name);
    EXPECT_EQ(std::string("\x01\x00\x00\x00\x00", 5), m.body);
    EXPECT_TRUE(sawAlive);
    break;
  }
  // The cancelled command was collected: the helper has no zombie child.
  std::string zombies;
  for (int i = 0; i < 200; i++) {
    int status = 0;
    zombies = tltest::runCommand(
        "ps --ppid " + std::to_string(helper.pid()) + " -o stat=,comm= | grep '^Z' || true",
        &status);
    if (zombies.empty())
      break;
    usleep(50000);
  }
  EXPECT_EQ("", zombies);

  // Messages at and over the channel's 1 MiB on the wire (32 frames): the
  // one at the limit is served, one byte more is refused unanswered, and so
  // is a command padded past the limit (and past the helper's buffer).
  for (int extra : {0, 1}) {
    SCOPED_TRACE(extra);
    std::string body("\x00\x80", 2);
    for (int i = 0; i < 128; i++) {
      char key[16];
      snprintf(key, sizeof key, "k%04d", i);
      body += str32(key) + str32(std::string(i < 127 ? 8192 : 6450 + extra, 'v'));
    }
    std::string wire = RawHelper::frames("SvrSettings", body);
    ASSERT_EQ(1048576u + extra, wire.size());
    helper.sendRaw(wire);
    if (extra == 0) {
      EXPECT_EQ("SvrSettingsResult", helper.next().name);
    }
    EXPECT_EQ(good, helper.probe());
  }
  const std::string marker = "/tmp/admin-padded-" + std::to_string(getpid());
  helper.send("RunCmd", "\x02" + str32("/bin/touch") + str32(marker) + std::string(2 << 20, 'p'));
  EXPECT_EQ(good, helper.probe());
  EXPECT_NE(0, access(marker.c_str(), F_OK));
  unlink(marker.c_str());

  // A broken header (a name longer than its message) ends the connection;
  // the helper ends quietly.
  helper.sendRaw(std::string("\x80\x03\x09" "ab", 5));
  EXPECT_EQ("", helper.next(10000).name);
  EXPECT_EQ(0, helper.endAndWait());
}

TEST(AdminHelperInput, WizardEndingMidCommandEndsTheHelperWithZero)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "the helper runs as root";
  TestProfile profile;
  os::AppLoop loop;
  RawHelper helper;
  EXPECT_EQ("HaveCloudCredsSvr", helper.next().name);
  helper.send("RunCmd", "\x02" + str32("/bin/sleep") + str32("0.5"));
  usleep(100000);
  EXPECT_EQ(0, helper.endAndWait());
}

} // namespace
