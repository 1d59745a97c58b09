// Helpers shared by the test programs: log capture, descriptor counts,
// forked children, temporary files and directories, and running reference
// programs.
#pragma once

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Log.h"
#include "plat/sanitizers.h"

namespace tltest {

// A log destination that keeps every line it is given. Declare one per
// program at namespace scope: destinations stay registered until exit.
// Thread-safe through the lock; read `lines` directly only while no other
// thread logs.
class CaptureDest : public plat::LogDest {
public:
  enum Format { kText, kLevelText, kSourceText, kLevelSourceText };
  explicit CaptureDest(const char* name, Format format = kText)
    : LogDest(name), format_(format)
  {
  }
  void write(int level, const char* src, const char* text) override
  {
    std::string line;
    if (format_ == kLevelText || format_ == kLevelSourceText)
      line = std::to_string(level) + " ";
    if (format_ == kSourceText || format_ == kLevelSourceText)
      line += std::string(src) + ": ";
    line += text;
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  }
  bool saw(const std::string& line)
  {
    std::lock_guard<std::mutex> lock(mutex);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // How many lines are text, or start with prefix.
  int count(const std::string& text)
  {
    std::lock_guard<std::mutex> lock(mutex);
    return (int)std::count(lines.begin(), lines.end(), text);
  }
  int countPrefix(const std::string& prefix)
  {
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (const std::string& l : lines)
      n += l.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
  void clear()
  {
    std::lock_guard<std::mutex> lock(mutex);
    lines.clear();
  }
  // The lines so far, leaving none.
  std::vector<std::string> take()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return std::move(lines);
  }
  // The lines so far that contain part, leaving none.
  std::vector<std::string> grep(const char* part)
  {
    std::vector<std::string> out;
    for (std::string& l : take())
      if (l.find(part) != std::string::npos)
        out.push_back(l);
    return out;
  }
  // Every line so far, each ending in a newline.
  std::string all()
  {
    std::lock_guard<std::mutex> lock(mutex);
    std::string s;
    for (const std::string& l : lines)
      s += l + "\n";
    return s;
  }
  // A destination switched off takes no lines.
  bool enabled() override { return on; }
  bool on = true;
  std::mutex mutex;
  std::vector<std::string> lines;

private:
  Format format_;
};

// Routes one source's messages to a capturing destination while it lives.
class LogCapture {
public:
  explicit LogCapture(const char* source)
  {
    std::lock_guard<std::mutex> lock(dest().mutex);
    dest().lines.clear();
    dest().levels.clear();
    plat::setLogOverride((std::string(source) + ":testcapture:110").c_str());
  }
  ~LogCapture() { plat::setLogOverride(nullptr); }

  std::vector<std::string> lines()
  {
    std::lock_guard<std::mutex> lock(dest().mutex);
    return dest().lines;
  }
  std::vector<int> levels()
  {
    std::lock_guard<std::mutex> lock(dest().mutex);
    return dest().levels;
  }

private:
  struct Dest : plat::LogDest {
    Dest() : LogDest("testcapture") {}
    void write(int level, const char*, const char* text) override
    {
      std::lock_guard<std::mutex> lock(mutex);
      lines.push_back(text);
      levels.push_back(level);
    }
    std::mutex mutex;
    std::vector<std::string> lines;
    std::vector<int> levels;
  };
  // Made on first use and never freed, as destinations stay registered.
  static Dest& dest()
  {
    static Dest* d = new Dest;
    return *d;
  }
};

// Descriptors open in this process, to show that nothing leaks.
inline int countFds()
{
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (struct dirent* e = readdir(d))
    n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

// A forked child running fn; it ends with _exit and fn's result (99 for an
// exception), running no destructors, so the parent's gtest state and
// objects are untouched. -1 when fork fails.
inline pid_t spawn(const std::function<int()>& fn)
{
  pid_t pid = fork();
  if (pid != 0)
    return pid;
  int rc = 99;
  try {
    rc = fn();
  } catch (...) {
  }
  _exit(rc);
}

// Starts the program args[0] with args, its standard input and output on
// pipes: *toChild is written to, *fromChild read from. -1 when the pipes or
// the fork fail.
inline pid_t spawnPiped(std::vector<std::string> args, int* toChild, int* fromChild)
{
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0)
    return -1;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return -1;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (pid < 0) {
    close(in[1]);
    close(out[0]);
    return -1;
  }
  *toChild = in[1];
  *fromChild = out[0];
  return pid;
}

// A waitpid status as one number: the exit code, or 100 + the signal that
// killed the child.
inline int exitCode(int status)
{
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// Fails the test when ThreadSanitizer ended the forked child for a report
// (a program of that build stops at its first): whatever status the caller
// expects of the child, a report is a failure. Returns status.
inline int checkedChildStatus(int status)
{
  EXPECT_FALSE(plat::kThreadSanitizer && WIFEXITED(status) &&
               WEXITSTATUS(status) == plat::kThreadSanitizerExit)
      << "ThreadSanitizer reported in a forked child (its report is above)";
  return status;
}

// Waits for a child of spawn(); its exitCode().
inline int waitChild(pid_t pid)
{
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return exitCode(checkedChildStatus(status));
}

// Runs fn in a forked child and returns its exitCode().
inline int inChild(const std::function<int()>& fn)
{
  pid_t pid = spawn(fn);
  EXPECT_GE(pid, 0);
  return pid < 0 ? -1 : waitChild(pid);
}

// A fresh directory under /tmp, removed with its contents afterwards.
class TempDir {
public:
  explicit TempDir(const char* stem = "tltest") : path_(std::string("/tmp/") + stem + "-XXXXXX")
  {
    EXPECT_NE(mkdtemp(&path_[0]), nullptr) << path_;
  }
  ~TempDir()
  {
    nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); },
         16, FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Writes name in the directory with the given mode; its path.
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

// A file under /tmp holding the given bytes, removed when this goes.
class TempFile {
public:
  explicit TempFile(const std::string& content, const char* stem = "tltest")
    : path_(std::string("/tmp/") + stem + "_XXXXXX")
  {
    int fd = mkstemp(&path_[0]);
    EXPECT_GE(fd, 0) << path_;
    if (fd < 0)
      return;
    EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
  }
  ~TempFile() { unlink(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

private:
  std::string path_;
};

// Everything left in a stdio stream.
inline std::string readStream(FILE* f)
{
  std::string s;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
    s.append(buf, n);
  return s;
}

// The whole file; a missing file fails the test and gives "".
inline std::string readFile(const std::string& path)
{
  FILE* f = fopen(path.c_str(), "rbe");
  EXPECT_NE(f, nullptr) << path;
  if (!f)
    return "";
  std::string s = readStream(f);
  fclose(f);
  return s;
}

// The whole file, or "" when it is missing (for files that may not exist yet).
inline std::string readFileIfAny(const std::string& path)
{
  // Opened once: a file that goes between a check and the open (a process
  // in /proc that ends) counts as missing.
  FILE* f = fopen(path.c_str(), "rbe");
  if (!f)
    return "";
  std::string s = readStream(f);
  fclose(f);
  return s;
}

// Lower-case hexadecimal of the bytes, written independently of the code
// under test.
inline std::string toHex(const std::string& s)
{
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// The lines joined, each ending in a newline.
inline std::string joinLines(const std::vector<std::string>& lines)
{
  std::string s;
  for (const std::string& l : lines)
    s += l + "\n";
  return s;
}

// Everything in a temporary file, from its start; the file is closed.
inline std::string readAndClose(FILE* f)
{
  rewind(f);
  std::string out = readStream(f);
  fclose(f);
  return out;
}

// Runs a shell command and returns all it printed; its wait status goes to
// status (-1 when it could not start).
inline std::string runCommand(const std::string& command, int* status)
{
  *status = -1;
  FILE* p = popen(command.c_str(), "r");
  if (!p)
    return "";
  std::string out = readStream(p);
  *status = pclose(p);
  return out;
}

// Runs a shell command and returns all it printed; a failed exit fails the
// test.
inline std::string commandOutput(const std::string& command)
{
  int status;
  std::string out = runCommand(command, &status);
  EXPECT_EQ(status, 0) << command;
  return out;
}

// As commandOutput, split into lines without their newlines; text after the
// last newline is not a line.
inline std::vector<std::string> commandLines(const std::string& command)
{
  std::string out = commandOutput(command);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(out.substr(start, nl - start));
  return lines;
}

// Runs a reference script with /usr/bin/python3, one request a line on its
// standard input, and returns its output lines.
inline std::vector<std::string> pythonLines(const std::string& scriptAndArgs,
                                            const std::vector<std::string>& input)
{
  TempFile in(joinLines(input), "tltest_py");
  return commandLines("/usr/bin/python3 " + scriptAndArgs + " < " + in.path());
}

} // namespace tltest
