// The stand-in for the running server's control pipe (ctrlcomms_fake.py)
// as a test object: started on a pipe path, killed and its socket removed
// when it goes.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "testutil.h"

namespace tltest {

// The stand-in server on one pipe path; killed and its socket removed when
// this goes.
class FakeServer {
public:
  FakeServer(const std::string& path, const std::vector<std::string>& options) : path_(path)
  {
    char log[] = "/tmp/ctrlcomms-log-XXXXXX";
    close(mkstemp(log));
    log_ = log;
    std::vector<std::string> argv = {"/usr/bin/python3", TL_TEST_SUPPORT_DIR "/ctrlcomms_fake.py",
                                     path, log_};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> args;
      for (std::string& a : argv)
        args.push_back(&a[0]);
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (lines().empty() && std::chrono::steady_clock::now() < until && running())
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ("ready", lines().empty() ? "" : lines()[0]) << "the fake server did not start";
  }
  ~FakeServer()
  {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    unlink(path_.c_str());
    unlink(log_.c_str());
  }

  // The messages received, once the server ended (after the client went).
  std::vector<std::string> messages()
  {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (running() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(running()) << "the fake server did not end";
    std::vector<std::string> l = lines();
    return std::vector<std::string>(l.begin() + (l.empty() ? 0 : 1), l.end());
  }

private:
  bool running()
  {
    if (pid_ <= 0)
      return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  std::vector<std::string> lines()
  {
    std::vector<std::string> out;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);)
      out.push_back(line);
    return out;
  }

  std::string path_;
  std::string log_;
  pid_t pid_ = -1;
};

} // namespace tltest
