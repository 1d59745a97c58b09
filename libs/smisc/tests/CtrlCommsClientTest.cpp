// The control-channel client against a stand-in server (a python process
// listening on the control pipe) that records every message it receives.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "childio.h"
#include "ctrlcommsFake.h"
#include "fullQueue.h"
#include "os/AppInfo.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "rdr/MemInStream.h"
#include "score/Mode.h"
#include "smisc/CtrlCommsClientHelper.h"
#include "testuser.h"
#include "testutil.h"

namespace {

using tltest::FakeServer;
using Clock = std::chrono::steady_clock;

std::string shortString(const std::string& s)
{
  return tltest::toHex(std::string(1, (char)s.size()) + s);
}

std::string failureOf(const std::function<void()>& fn)
{
  try {
    fn();
  } catch (const plat::Exception& e) {
    return e.str();
  }
  return "no exception";
}

class CtrlCommsTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    os::AppInfo::set("tlzarnconnectsetup", "Tessaly", "zarn", nullptr, nullptr);
    score::setCurrentMode(score::kModeUser);
    ownDir_ = "/tmp/.zarn-" + std::to_string(geteuid());
    madeOwnDir_ = access(ownDir_.c_str(), F_OK) != 0;
  }
  void TearDown() override
  {
    score::setCurrentMode(score::kModeUser);
    // The per-user directory goes again when this test made it.
    if (madeOwnDir_)
      rmdir(ownDir_.c_str());
  }

  // The pipe of the user-mode server of this user.
  std::string userPipe()
  {
    return os::makeNamedPipePath("CtrlComms", nullptr, nullptr, 0, 0).str();
  }

  std::string ownDir_;
  bool madeOwnDir_ = false;
};

TEST_F(CtrlCommsTest, CommandsAndReplies)
{
  std::string path = userPipe();
  EXPECT_EQ("/tmp/.zarn-" + std::to_string(geteuid()) + "/tlzarnconnectsetup.CtrlComms", path);
  std::string config = "Name=va\\nl\\\\ue\nBare\nEmpty=\n";
  FakeServer fake(path, {"--config", tltest::toHex(config) + "," + tltest::toHex("Other=1\n"),
                         "--connections", "3,0"});
  {
    smisc::CtrlCommsClientHelper client;
    client.getConfig("Desktop");
    client.waitFor("getConfigReply");
    const plat::CaseInsensitiveStringMap& got = client.config();
    ASSERT_EQ(3u, got.size());
    EXPECT_STREQ("va\nl\\ue", got.at(plat::String("name")).get());
    EXPECT_TRUE(got.at(plat::String("Bare")).isNull());
    EXPECT_STREQ("", got.at(plat::String("Empty")).get());
    // A second reply replaces the whole map.
    client.getConfig("Other");
    client.waitFor("getConfigReply");
    ASSERT_EQ(1u, client.config().size());
    EXPECT_STREQ("1", client.config().at(plat::String("other")).get());

    client.getConnections();
    client.waitFor("getConnectionsReply");
    ASSERT_EQ(3u, client.connections().size());
    EXPECT_STREQ("c0f0", client.connections()[0].fields[0].get());
    EXPECT_STREQ("c2f5", client.connections()[2].fields[5].get());
    client.getConnections();
    client.waitFor("getConnectionsReply");
    EXPECT_TRUE(client.connections().empty());

    plat::CaseInsensitiveStringMap values;
    values[plat::String("b")] = plat::String();
    values[plat::String("A")] = plat::String("x\ny");
    values[plat::String("C")] = plat::String("back\\slash\r");
    client.setConfig(values);
    client.disconnClient("c1", "bye");
    client.showStatus();
    client.showStatusDialog();
    client.reload();
    client.stop();
  }
  std::vector<std::string> expected = {
      "verifyChannel ",
      "getConfig " + shortString("Desktop"),
      "getConfig " + shortString("Other"),
      "getConnections ",
      "getConnections ",
      "setConfig " + tltest::toHex("A=x\\ny\nb\nC=back\\\\slash\\r\n"),
      "disconnClient " + shortString("c1") + shortString("bye"),
      "showStatus ",
      "showStatusDialog ",
      "reload ",
      "stop ",
  };
  EXPECT_EQ(expected, fake.messages());
}

TEST_F(CtrlCommsTest, PeerOfAnotherUserIsRefused)
{
  TL_REQUIRE_TEST_USER();
  FakeServer fake(userPipe(), {"--uid", std::to_string(tltest::testUser()->uid)});
  EXPECT_EQ("Contacting ZARN Server failed: namedPipeCredCheck: uid mismatch",
            failureOf([] { smisc::CtrlCommsClientHelper client; }));
  EXPECT_EQ(std::vector<std::string>{"verifyChannel "}, fake.messages());
}

TEST_F(CtrlCommsTest, ExpectedUserFollowsTheMode)
{
  TL_REQUIRE_TEST_USER();
  const tltest::TestUser* user = tltest::testUser();
  // Service mode: the service's pipe, served by root.
  score::setCurrentMode(score::kModeService);
  std::string serviceDir = "/tmp/.zarn-zarnservice";
  mkdir(serviceDir.c_str(), 0700);
  std::string path = serviceDir + "/tlzarnconnectsetup.CtrlComms";
  EXPECT_EQ(path, os::makeNamedPipePath("CtrlComms", "zarnservice", nullptr, 0, 0).str());
  for (bool asRoot : {true, false}) {
    SCOPED_TRACE(asRoot ? "root" : "test user");
    std::vector<std::string> options;
    if (!asRoot)
      options = {"--uid", std::to_string(user->uid)};
    FakeServer fake(path, options);
    std::string failure = failureOf([] { smisc::CtrlCommsClientHelper().reload(); });
    if (asRoot) {
      EXPECT_EQ("no exception", failure);
      EXPECT_EQ((std::vector<std::string>{"verifyChannel ", "reload "}), fake.messages());
    } else {
      EXPECT_EQ("Contacting ZARN Server failed: namedPipeCredCheck: uid mismatch", failure);
    }
  }
  rmdir(serviceDir.c_str());

  // User mode run by the test user: its own pipe, served as that user.
  score::setCurrentMode(score::kModeUser);
  std::string userDir = "/tmp/.zarn-" + std::to_string(user->uid);
  mkdir(userDir.c_str(), 0700);
  ASSERT_EQ(0, chown(userDir.c_str(), user->uid, user->gid));
  std::string userPath = userDir + "/tlzarnconnectsetup.CtrlComms";
  {
    FakeServer fake(userPath, {"--uid", std::to_string(user->uid)});
    std::string report = tltest::childReport(
        [] { return failureOf([] { smisc::CtrlCommsClientHelper().reload(); }); },
        tltest::ChildUser::kTestUser);
    EXPECT_EQ("no exception", report);
    EXPECT_EQ((std::vector<std::string>{"verifyChannel ", "reload "}), fake.messages());
  }
  unlink(userPath.c_str());
  rmdir(userDir.c_str());
}

// The service's folder made first by another user, writable by others or a
// link is refused before any connect; in root's own folder a server whose
// queue stays full times out within the bound.
TEST_F(CtrlCommsTest, ServiceFolderOfAnotherUserAndAFullQueue)
{
  TL_REQUIRE_TEST_USER();
  tltest::TempDir tmp;
  chmod(tmp.path().c_str(), 01777);
  os::setTmpDirForTest(tmp.path().c_str());
  score::setCurrentMode(score::kModeService);
  smisc::CtrlCommsClientHelper::setTimeoutForTest(1000);
  const std::string dir = tmp / ".zarn-zarnservice",
                    refused = dir + " is not a private directory of the server's user";
  struct Case {
    const char* what;
    std::function<void()> make;
    std::string error;
  } cases[] = {
      {"the test user's", [&] { tltest::forkAsTestUser([&] { return mkdir(dir.c_str(), 0700); }); },
       refused},
      {"writable by all", [&] { mkdir(dir.c_str(), 0700), chmod(dir.c_str(), 0777); }, refused},
      {"a link",
       [&] { mkdir((tmp / "real").c_str(), 0700), symlink((tmp / "real").c_str(), dir.c_str()); },
       refused},
      {"root's", [&] { mkdir(dir.c_str(), 0700); }, "connect: Connection timed out (110)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.make();
    std::string failure;
    auto start = Clock::now();
    {
      tltest::FullQueueListener full(dir + "/tlzarnconnectsetup.CtrlComms");
      failure = failureOf([] { smisc::CtrlCommsClientHelper().reload(); });
    }
    double waited = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ("Contacting ZARN Server failed: " + c.error, failure);
    EXPECT_LT(waited, 5.0);
    if (c.error == refused)
      EXPECT_LT(waited, 0.9); // not a wait that ran out
    else
      EXPECT_GE(waited, 0.9);
    int status = 0;
    tltest::runCommand("rm -rf '" + dir + "' '" + tmp / "real" + "'", &status);
  }
  smisc::CtrlCommsClientHelper::setTimeoutForTest(0);
  os::setTmpDirForTest(nullptr);
}

TEST_F(CtrlCommsTest, NoServer)
{
  unlink(userPipe().c_str());
  std::string failure = failureOf([] { smisc::CtrlCommsClientHelper client; });
  EXPECT_EQ(0u, failure.find("Contacting ZARN Server failed: connect: ")) << failure;
}

TEST_F(CtrlCommsTest, SilentServerTimesOut)
{
  FakeServer fake(userPipe(), {"--silent"});
  auto start = Clock::now();
  try {
    smisc::CtrlCommsClientHelper client(userPipe().c_str(), geteuid());
    ADD_FAILURE() << "no time-out";
  } catch (const plat::TimedOut& e) {
    EXPECT_STREQ("Timed out waiting for response from ZARN Server", e.str());
    EXPECT_STREQ("TimedOut", e.getType());
  }
  double waited = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(waited, 4.9);
  EXPECT_LT(waited, 120);
  EXPECT_EQ(std::vector<std::string>{"verifyChannel "}, fake.messages());
}

TEST_F(CtrlCommsTest, ServerThatClosesAtOnce)
{
  FakeServer fake(userPipe(), {"--close"});
  try {
    smisc::CtrlCommsClientHelper client(userPipe().c_str(), geteuid());
    ADD_FAILURE() << "no error";
  } catch (const plat::TimedOut& e) {
    ADD_FAILURE() << e.str();
  } catch (const plat::Exception& e) {
    EXPECT_STRNE("", e.str());
  }
}

TEST(CtrlCommsReplies, ConnectionsReplyReader)
{
  std::vector<smisc::ConnectionInfo> list(2);
  std::string body("\0\1" "\1a" "\0" "\2\xff" "b" "\1d" "\1e" "\1f", 14);
  rdr::MemInStream in(body.data(), (int)body.size());
  smisc::CtrlCommsClientHelper::readConnectionsReply(in, list);
  ASSERT_EQ(1u, list.size());
  EXPECT_STREQ("\xEF\xBF\xBD" "b", list[0].fields[2].get());
  // A body shorter than its count promises: an error, and the list stays.
  std::string cut("\0\2\1a", 4);
  rdr::MemInStream shortIn(cut.data(), (int)cut.size());
  EXPECT_THROW(smisc::CtrlCommsClientHelper::readConnectionsReply(shortIn, list), plat::Exception);
  EXPECT_EQ(1u, list.size());
}

} // namespace
