// Starting child processes: the program checked or found on PATH, the
// environment built from the inherited one, descriptors mapped into the
// child, a fork (or a double fork for a detached child) and exec, and an
// exec failure brought back so that start throws the child's own error.
//
// A launcher belongs to the loop thread and starts once. It owns every
// parent descriptor it maps and closes them after the fork; the caller owns
// the parent ends that addPipe and addSocketPair return. Its child has one
// collector: the launcher (which waits when destroyed, Reaper::kLauncher), a
// monitor (makeMonitor) or the pid manager (Reaper::kPidManager at
// destruction, or Reaper::kDetached). Between fork and exec the child only calls async-signal-safe
// functions: everything it needs is built before the fork.
#pragma once

#include <stdint.h>
#include <stddef.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "io/Io.h"
#include "os/ProcessMonitor.h"
#include "plat/String.h"

namespace rdr {
class FdInStream;
}

namespace os {

struct SignalBlocker;

class LaunchProcess {
public:
  using Env = std::map<plat::String, plat::String, plat::StringLess>;

  // Who collects the child, in the order a launcher may move through.
  enum class Reaper {
    kLauncher,   // waited for when the launcher goes
    kPidManager, // given to the pid manager when the launcher goes
    kDetached,   // a double fork at start; afterwards, the pid manager's at once
  };
  // How redirectToFile opens its file.
  enum class FileMode { kRead, kTruncate, kAppend };

  struct Cfg {
    // Program and arguments; empty: fork only. args[0] must be absolute
    // after the optional search.
    std::vector<plat::String> args;
    Reaper reaper = Reaper::kLauncher;
    bool elevate = false;
    plat::String elevateTitle;
    std::vector<plat::String> extraArgs;
    // Not 0: run as this user through "-setuidhelper" (root only).
    int asUid = 0;
    bool setuidViaSelf = true;
    // Set in the child; filled with the inherited variables at start.
    Env env;
    std::vector<plat::String> unsetEnv;
    bool noInheritEnv = false;
    // 0 or more: the child closes every descriptor from here up.
    int closeFdsFrom = -1;
    std::vector<int> pipeFds{0, 1};
    bool noPipeArg = false;
    bool searchPath = false;
  };

  // The parent's read end of a pipe whose other end is a child descriptor.
  class ErrorPipe {
  public:
    explicit ErrorPipe(LaunchProcess& launcher);
    ~ErrorPipe();
    int childFd() const { return childFd_; }
    rdr::FdInStream& in() { return *in_; }

  private:
    int childFd_ = -1;
    std::unique_ptr<rdr::FdInStream> in_;
  };

  explicit LaunchProcess(const Cfg& cfg);
  ~LaunchProcess();
  LaunchProcess(const LaunchProcess&) = delete;
  LaunchProcess& operator=(const LaunchProcess&) = delete;

  // --- Descriptors for the child (before start) -----------------------------
  // Maps child descriptor childFd to parentFd, which the launcher now owns.
  void redirectFd(int childFd, int parentFd);
  // Maps toFd to a duplicate of what fromFd is mapped to; throws
  // plat::SystemException "dup".
  void redirectDup(int fromFd, int toFd);
  void redirectToFile(int childFd, const char* path, FileMode mode);
  // Descriptor 1 to the file, 2 to the same.
  void redirectOutputToFile(const char* path, bool append);
  // A pipe: the parent keeps end parentEnd (returned, the caller's), the
  // child gets the other end at childFd (a negative one becomes that end's
  // own number and is returned through the argument).
  int addPipe(int parentEnd, int& childFd);
  // A socket pair: the first listed child descriptor gets the child's end
  // (negative: its own number), every further one a duplicate of it.
  // Returns the parent's end (the caller's).
  int addSocketPair(const std::vector<int>& childFds);

  // --- Starting -------------------------------------------------------------
  // Starts the child; throws plat::SystemException for a program not found,
  // a failed fork and any failure in the child up to exec.
  void start();
  // addSocketPair, start, and a connection (an io::FdIo) that owns the
  // parent's end.
  io::IoPtr startWithPipe(const std::vector<int>& childFds);
  // The same with a one-way pipe from the child, which writes to it more
  // cheaply than to a socket, holding up to pipeBytes when the system allows
  // (0: its default size).
  io::IoPtr startWithOutputPipe(const std::vector<int>& childFds, int pipeBytes);
  // Standard error to "/dev/null", standard output to a pipe; start; a
  // blocking stream that owns the read end.
  std::unique_ptr<rdr::FdInStream> captureStdout();
  // captureStdout, everything read, then a wait of at most timeoutMs;
  // throws plat::TimedOut "Timed out waiting for process to exit".
  plat::String runAndCapture(int* exitCode, int timeoutMs);

  // --- After start ------------------------------------------------------------
  // False when timeoutMs (below 0: none; 0: one check) passed with the child
  // running. Throws plat::Exception "LaunchProcess: process detached or not
  // started" without a pid.
  bool wait(int* exitCode, int timeoutMs);
  // Moves the child on to a later reaper; with kDetached the pid goes to the
  // pid manager now.
  void setReaper(Reaper reaper);
  // Hands the child to a new monitor (Reaper::kDetached).
  std::unique_ptr<ProcessMonitor> makeMonitor(ProcessMonitor::Callback* callback);

  int pid() const { return cleanup_.pid(); }
  const Cfg& cfg() const { return cfg_; }

private:
  // The steps of start: the program and its arguments, the environment,
  // the error pipe (its write end returned), the fork (an errno, or 0) and
  // the child's error before exec, thrown.
  void prepareArgs();
  std::vector<plat::String> buildEnv();
  int openErrorPipe(int& readEnd);
  int spawn(std::vector<char*>& argv, std::vector<char*>& envp, int errWrite,
            SignalBlocker& blocker);
  void readChildError(int errRead);
  void closeMapped();
  // Maps every child descriptor after the first to a duplicate of first;
  // on failure closes parentEnd, which the parent no longer keeps.
  void mapDuplicates(int parentEnd, int first, const std::vector<int>& childFds);
  // start, and a connection owning parentEnd (closed should start fail).
  io::IoPtr startOwning(int parentEnd);

  Cfg cfg_;
  std::map<int, int> childDup_;
  std::set<int> parentOnly_;
  PidCleanup cleanup_;
  bool used_ = false;
};

// Starts args detached (Reaper::kDetached); nothing is waited for.
void launchDetached(const std::vector<plat::String>& args);
// Starts args (searched in PATH) with the caller's standard output and waits
// for it; its exit code.
int runAndWait(const std::vector<plat::String>& args);
// Starts args detached with a pipe on its standard input; the write end.
int startDetachedWithStdinPipe(const std::vector<plat::String>& args);

// --- The exec error record ----------------------------------------------------
// What a child writes to the error pipe when a step before exec fails: the
// error number (4 bytes, big-endian), the text's length (1 byte) and the
// text (at most 255 bytes).
struct ExecError {
  int err = 0;
  char text[256] = {};
};
enum class ExecErrorRead { kNone, kRecord, kMalformed };
// Reads what came through the error pipe: nothing (success), one record, or
// bytes that are not a record. Never reads past size.
ExecErrorRead parseExecError(const uint8_t* data, size_t size, ExecError& out);
// Builds a record for text into buf (at least 260 bytes); its length.
// Child-safe.
size_t formatExecError(uint8_t* buf, int err, const char* text);

} // namespace os
