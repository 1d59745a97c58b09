// The direct route of a launch with a pipe: the descriptor argument before
// the extra arguments, the connection handed over on a later pass, the
// collected text and its trimming, and input fed to a child that echoes it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/FdSelectManager.h"
#include "os/AppLoop.h"
#include "os/LaunchWithPipe.h"
#include "plat/Time.h"
#include "rdr/MemOutStream.h"
#include "testutil.h"

namespace {

os::LaunchProcess::Cfg shell(const std::string& script, std::vector<std::string> extra = {})
{
  os::LaunchProcess::Cfg cfg;
  for (const char* a : {"/bin/sh", "-c"})
    cfg.args.emplace_back(a);
  cfg.args.emplace_back(script.c_str());
  cfg.args.emplace_back("sh");
  for (const std::string& e : extra)
    cfg.extraArgs.emplace_back(e.c_str());
  return cfg;
}

TEST(LaunchWithPipe, CollectedTextAndArguments)
{
  os::AppLoop::selectManager();
  os::PidManager::ensure(); // its signal pipe stays
  struct Case {
    std::string script;
    bool trim;
    std::string text;
  } cases[] = {
      {"printf '%s|' \"$@\"; echo", true, "0|e1|e 2|"},
      {"printf '%s|' \"$@\"; echo", false, "0|e1|e 2|\n"},
      {"printf 'line\\n\\n'", true, "line\n"},
      {"true", true, ""},
  };
  int before = tltest::countFds();
  for (const Case& c : cases) {
    os::LaunchWithPipe launcher(shell(c.script, {"e1", "e 2"}));
    EXPECT_EQ(c.text, launcher.runAndCollectText(c.trim).str()) << c.script;
  }
  os::AppLoop::selectManager().processOnce(0);
  EXPECT_EQ(before, tltest::countFds());
}

class Owner : public os::LaunchWithPipeCallback {
public:
  void launched(io::IoPtr io) override
  {
    calls++;
    got = std::move(io);
  }
  int calls = 0;
  io::IoPtr got;
};

TEST(LaunchWithPipe, LaunchedOnALaterPass)
{
  os::AppLoop::selectManager();
  os::PidManager::ensure(); // its signal pipe stays
  Owner owner;
  os::LaunchWithPipe launcher(shell("printf hi"));
  launcher.launch(&owner);
  EXPECT_EQ(0, owner.calls);
  plat::Time end = plat::getMonoTime() + 10 * plat::kTicksPerSecond;
  while (owner.calls == 0 && plat::getMonoTime() < end)
    os::AppLoop::selectManager().processOnce(50);
  ASSERT_EQ(1, owner.calls);
  ASSERT_TRUE(owner.got);
  rdr::MemOutStream text;
  while (!os::copyStream(*owner.got->in, text, false))
    os::AppLoop::selectManager().processOnce(50);
  EXPECT_EQ("hi", std::string((const char*)text.data(), (size_t)text.length()));
}

TEST(LaunchWithPipe, InputToAnEchoingChildDrainsToItsEnd)
{
  os::AppLoop::selectManager();
  os::PidManager::ensure(); // its signal pipe stays
  std::string input(200000, 'x');
  os::LaunchWithPipe launcher(shell("cat"));
  int before = tltest::countFds();
  // Returns only once the child has taken everything and ended.
  launcher.runWithInput(input.size(), (const uint8_t*)input.data());
  os::AppLoop::selectManager().processOnce(0);
  EXPECT_EQ(before, tltest::countFds());
}

} // namespace
