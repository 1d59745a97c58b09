// Runs the program as a real process: as the test user when the tests run
// as root, with HOME in a temporary directory owned by that user, standard
// output and error in files there, without a display unless the caller
// gives one (wizardDisplay). The log file is HOME's
// ".zarn/tlzarnconnectsetup.log".
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plat/Time.h"
#include "testuser.h"
#include "testutil.h"
#include "xvfb.h"

namespace tltest {

inline std::string readWholeFile(const std::string& path)
{
  return readFileIfAny(path);
}

inline bool has(const std::string& text, const std::string& part)
{
  return text.find(part) != std::string::npos;
}

// The environment entry that gives the wizard the program's shared Xvfb.
inline std::string wizardDisplay()
{
  return "DISPLAY=" + sharedXvfb().display();
}

// The user the program runs as: the test user under root, else ourselves.
inline const TestUser* programUser()
{
  return geteuid() == 0 ? testUser() : nullptr;
}

class ProgramRun {
public:
  struct Result {
    int status = -1; // exit status, or 100 + signal
    std::string out, err, log;
  };

  // Starts the program with args (no argv at all when args is {"(none)"}),
  // with extra "NAME=value" environment entries; prepare fills HOME first.
  explicit ProgramRun(const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {},
                      const std::function<void(const std::string& home)>& prepare = nullptr)
      : home_("tlprog")
  {
    const TestUser* user = programUser();
    if (prepare)
      prepare(home_.path());
    if (user && system(("chown -R " + std::to_string(user->uid) + ":" + std::to_string(user->gid) +
                        " '" + home_.path() + "'").c_str()) != 0)
      return;
    std::string outPath = home_ / "stdout", errPath = home_ / "stderr";
    std::vector<char*> argv;
    if (args != std::vector<std::string>{"(none)"}) {
      argv.push_back(const_cast<char*>(TL_PROGRAM));
      for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
        _exit(120);
      if (user && (setgroups(0, nullptr) != 0 || setgid(user->gid) != 0 || setuid(user->uid) != 0))
        _exit(121);
      setenv("HOME", home_.path().c_str(), 1);
      unsetenv("ZARN_PROFILE");
      unsetenv("ZARN_CONFIG_PROFILE");
      unsetenv("ZARN_PROFILE_DIR");
      unsetenv("DISPLAY");
      for (const std::string& e : env)
        putenv(const_cast<char*>(e.c_str()));
      execv(TL_PROGRAM, argv.data());
      _exit(122);
    }
  }
  ~ProgramRun()
  {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitChild(pid_);
    }
  }

  const std::string& home() const { return home_.path(); }
  std::string log() const { return readWholeFile(home_ / ".zarn/tlzarnconnectsetup.log"); }

  // Waits (60 s at most) until the log file holds text.
  bool waitForLog(const std::string& text) const
  {
    plat::Time end = plat::getMonoTime() + 60 * plat::kTicksPerSecond;
    while (!has(log(), text)) {
      if (plat::getMonoTime() > end)
        return false;
      usleep(10000);
    }
    return true;
  }
  // Waits for the wizard's window to be shown.
  bool waitShown() const { return waitForLog("SetupWindow: show"); }

  // Whether the program has ended; finish() still collects it.
  bool ended() const
  {
    siginfo_t info{};
    return pid_ <= 0 ||
           (waitid(P_PID, (id_t)pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_);
  }

  // Sends the signal (if any) and collects the result.
  Result finish(int signal = 0)
  {
    Result result;
    if (pid_ <= 0)
      return result;
    if (signal)
      kill(pid_, signal);
    result.status = waitChild(pid_);
    pid_ = -1;
    result.out = readWholeFile(home_ / "stdout");
    result.err = readWholeFile(home_ / "stderr");
    result.log = log();
    return result;
  }

private:
  TempDir home_;
  pid_t pid_ = -1;
};

// Runs the program to its end.
inline ProgramRun::Result runProgram(const std::vector<std::string>& args,
                                     const std::vector<std::string>& env = {})
{
  return ProgramRun(args, env).finish();
}

} // namespace tltest
