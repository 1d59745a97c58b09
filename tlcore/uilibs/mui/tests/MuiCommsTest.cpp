// The automation channel on the fake back-end: the command table, line
// input over the real pipe through the test driver, and the gate.
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "io/FdSelectManager.h"
#include "mui/MuiComms.h"
#include "muiDriver.h"
#include "muiFake.h"
#include "os/AppInfo.h"
#include "os/NamedPipeListener.h"
#include "os/UnixIo.h"
#include "plat/TestFeatures.h"
#include "testutil.h"

using namespace mui;

namespace {

std::string run(const std::string& line)
{
  const std::string reply = MuiComms::execute(line.c_str()).get();
  EXPECT_EQ('\n', reply.back()) << line;
  return reply.substr(0, reply.size() - 1);
}

std::string joined(const std::vector<std::string>& lines)
{
  std::string all;
  for (const std::string& l : lines)
    all += l + ";";
  return all;
}

} // namespace

TEST(MuiComms, CommandTable)
{
  tltest::bindFakeBackEnd();
  EXPECT_EQ("\n", run("dialogs"));
  tltest::SampleTree t;
  const std::string dlgState = run("state dlg");
  const int first = Mui::instance().dialogs().begin()->first;
  const std::string id = std::to_string(first);
  const struct {
    std::string line, reply, events = "";
  } rows[] = {
      {"version", "2\n"},
      {"", "0\n"},
      {"inspect", "0\n"},
      {"dialogs", id + " dlg\n" + std::to_string(first + 1) + " other\n"},
      {"lists dlg", "l (layout)\nl.b (button)\nl.e (edit)\nl.li (list)\nl.s (static)\n"},
      {"lists 999.l", "0\n"},
      {"listitems dlg.l.li", "0:\"x y\"\n"},
      {"state " + id, dlgState},
      {"show dlg.l 1", "0\n"},
      {"show other 1", "1\n"},
      {"click dlg.l.b 1x", "0\n"},
      {"dblclick dlg.l.b", "0\n"},
      {"click dlg.l.b", "1\n", "l.b/1;"},
      {"rightclick dlg.l.b", "0\n"},
      {"select dlg.l.li 0", "1\n", "l.li/0;"},
      {"settext dlg.l.e a b c", "1\n", "l.e/0;"},
      {"pressenter dlg.l.e", "0\n"},
      {"close other", "0\n"},
      {"focus dlg.l 1", "1\n", "/4;"},
      {"focus dlg 0", "1\n", "/5;"},
      {"checklayout dlg", "l.s: Overflowing by 999 units\n"},
      {"checklayout dlg.l.b", "\n"},
      {"menubar listitems", "0\n"},
      {"popupmenu", ""},
      {"popupmenu pop listitems", "0\n"},
  };
  for (const auto& r : rows) {
    t.seen.clear();
    EXPECT_EQ(r.reply, run(r.line)) << r.line;
    EXPECT_EQ(r.events, joined(t.seen)) << r.line;
  }
  EXPECT_STREQ("a b c", t.edit->getText().str());
  EXPECT_NE(std::string::npos, dlgState.find("element Dialog\nfixedsize 0\n"));
  t.allowClose = true;
  EXPECT_EQ("1\n", run("close other"));
  EXPECT_FALSE(t.other->isShown());
}

// One channel on the test's own loop, reached through the real pipe.
TEST(MuiComms, TheGateAndLinesFromSeveralClients)
{
  io::FdSelectManager manager;
  tltest::SampleTree tree;
  static std::vector<plat::String> keyDirs{plat::String(TL_TEST_SUPPORT_DIR)};
  plat::setTestFeaturesDirsForTests(&keyDirs);
  os::AppInfo::set("muicommstest", "Tessaly", "zarn", nullptr, nullptr);
  tltest::LogCapture log("MuiComms");
  std::unique_ptr<MuiComms> comms;
  for (const unsigned char* digest : {plat::getReleaseTestFeaturesDigest(), (const unsigned char*)nullptr}) {
    plat::setTestFeaturesDigestForTests(digest);
    plat::resetTestFeaturesGateForTests();
    comms.reset();
    comms = MuiComms::start(nullptr, -1, -1);
    EXPECT_EQ(!digest, access(MuiComms::instance()->path(), F_OK) == 0);
  }
  EXPECT_EQ(tltest::MuiDriver::pipePath(getpid()), MuiComms::instance()->path());
  auto connect = [&] {
    auto d = std::make_unique<tltest::MuiDriver>(MuiComms::instance()->path());
    d->pump = [&] { manager.processOnce(5); };
    return d;
  };
  auto a = connect(), b = connect();
  for (char c : std::string("settext dlg.l.e x\xff\r\n")) {
    a->send(std::string(1, c));
    manager.processOnce(0);
  }
  EXPECT_EQ("1\n", a->reply());
  EXPECT_STREQ("x\xEF\xBF\xBD", tree.edit->getText().str());
  b->send("vers");
  EXPECT_EQ("2\n", a->command("version"));
  EXPECT_EQ("2\n", b->command("ion"));
  // Gone before its reply.
  b->send("state dlg.l.b\n");
  b.reset();
  EXPECT_EQ("1\n", a->command("click dlg.l.b"));
  a->send(std::string(2000, 'x'));
  EXPECT_THROW(a->reply(), std::runtime_error);
  EXPECT_EQ("2\n", connect()->command("version"));
  // A peer that sends and never reads: the replies held stay bounded and
  // its commands wait; once it reads, every whole command is answered.
  const int fd = os::UnixIo::connectUnix(MuiComms::instance()->path(), os::UnixIo::kNonBlocking);
  std::string commands;
  while (commands.size() < (2 << 20))
    commands += "state dlg\n";
  size_t sent = 0, replies = 0;
  for (int idle = 0; idle < 50; idle++) {
    const ssize_t n = send(fd, commands.data() + sent, commands.size() - sent, MSG_NOSIGNAL);
    idle = n > 0 ? 0 : idle;
    sent += n > 0 ? n : 0;
    manager.processOnce(5);
  }
  EXPECT_LT(sent, commands.size());
  EXPECT_LT(log.lines().size(), 5000u) << "commands run while 64 KiB of replies wait";
  char buf[65536], last = 0;
  for (int idle = 0; idle < 200 && replies < sent / 10; idle++) {
    const ssize_t n = recv(fd, buf, sizeof(buf), 0);
    for (ssize_t i = 0; i < n; last = buf[i++])
      replies += buf[i] == '\n' && last == '\n';
    idle = n > 0 ? 0 : idle;
    manager.processOnce(5);
  }
  EXPECT_EQ(sent / 10, replies);
  close(fd);
  // A live server on the path.
  MuiComms::instance()->setListening(false);
  os::NamedPipeListener::Config config;
  config.path = plat::String(MuiComms::instance()->path());
  os::NamedPipeListener other(config);
  MuiComms::instance()->setListening(true);
  EXPECT_FALSE(MuiComms::instance()->isListening());
  const std::string lines = joined(log.lines());
  for (const char* line : {";Got command settext dlg.l.e x\xEF\xBF\xBD;", "String exceeds maximum length",
                           ";MuiComms failed: [System-98] name already bound"})
    EXPECT_NE(std::string::npos, lines.find(line)) << lines;
}

