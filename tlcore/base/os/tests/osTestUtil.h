// Helpers shared by the os tests: a scratch directory, a child process whose
// exit status carries its verdict, and shell output.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace ostest {

// A fresh directory under /tmp, removed with its contents afterwards.
class TempDir {
public:
  TempDir()
  {
    char tmpl[] = "/tmp/os-test-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir()
  {
    nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); },
         16, FTW_DEPTH | FTW_PHYS);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::string write(const std::string& name, const std::string& text, int mode = 0644) const
  {
    std::string p = *this / name;
    int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    EXPECT_GE(fd, 0) << p;
    EXPECT_EQ((ssize_t)text.size(), ::write(fd, text.data(), text.size()));
    fchmod(fd, mode);
    close(fd);
    return p;
  }

private:
  std::string path_;
};

// Runs fn in a forked child; returns its exit status (-signal when killed).
// The child ends with _exit, so the parent's gtest state is untouched.
inline int inChild(const std::function<int()>& fn)
{
  pid_t pid = fork();
  if (pid == 0)
    _exit(fn());
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// Standard output of a shell command, trailing line ends removed.
inline std::string run(const std::string& cmd)
{
  std::string out;
  FILE* f = popen(cmd.c_str(), "re");
  if (!f)
    return out;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
    out.append(buf, n);
  pclose(f);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
    out.pop_back();
  return out;
}

} // namespace ostest
