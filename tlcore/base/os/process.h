// Process-level services: the standard descriptors and closing the others
// (for a launched child), account look-up, and another process's identity,
// command line and environment from "/proc".
//
// ensureStdioOpen, closeFdsFrom and closeFdsExcept are for the child between
// fork and exec as well: closeFdsFrom and closeFdsExcept allocate nothing,
// take no lock, do not log and call the kernel directly (so a child that
// shares its parent's memory may use them). Account and ProcessInfo objects
// belong to one thread at a time.
#pragma once

#include <pwd.h>
#include <sys/types.h>

#include <map>
#include <set>
#include <vector>

#include "plat/String.h"

namespace os {

// Opens "/dev/null" onto each of descriptors 0, 1 and 2 that is closed,
// inheritable. Throws plat::SystemException on failure.
void ensureStdioOpen();
// Closes n and every descriptor above it (never 0 unless n is 0). Works
// without "/proc" too.
void closeFdsFrom(int n);
// Closes every descriptor from n up except the kept ones.
void closeFdsExcept(int n, const std::set<int>& keep);

// One account record as the system's password database gives it.
class Account {
public:
  Account();
  // Looks the account up by name (byName) or by uid. Throws
  // plat::SystemException "getpwnam(%s)" / "getpwuid(%s)" followed by
  // ": account not found", ": null name" or the system's error text.
  void lookup(bool byName, const char* name, uid_t uid);

  bool found() const { return found_; }
  const struct passwd& get() const { return pw_; }
  const char* getName() const { return found_ ? pw_.pw_name : nullptr; }
  const char* getHomeDir() const { return found_ ? pw_.pw_dir : nullptr; }

private:
  struct passwd pw_;
  std::vector<char> buf_;
  bool found_ = false;
};

// The account's name, or the fallback when it cannot be looked up.
plat::String getUserName(uid_t uid, const char* fallback);

// What "/proc" says about one process. Every id is -1 until read; the pid
// stays -1 when the process's status cannot be read.
class ProcessInfo {
public:
  using Environment = std::map<plat::String, plat::String, plat::StringLess>;

  explicit ProcessInfo(long pid);

  // Fill the command line and environment once (when the status was read);
  // failures are logged and leave them empty.
  void readCmdline();
  void readEnviron();

  int getPid() const { return pid_; }
  int getParentPid() const { return ppid_; }
  int getUid() const { return uid_; }
  int getEuid() const { return euid_; }
  int getGid() const { return gid_; }
  int getEgid() const { return egid_; }
  const std::vector<plat::String>& getCmdline() const { return cmdline_; }
  const Environment& getEnviron() const { return environ_; }

private:
  bool allKnown() const;
  // Calls add(piece) for each NUL-separated piece of the file.
  template <typename Fn> void readPieces(const char* file, Fn add);

  long requested_;
  int pid_ = -1;
  int ppid_ = -1;
  int euid_ = -1;
  int uid_ = -1;
  int egid_ = -1;
  int gid_ = -1;
  std::vector<plat::String> cmdline_;
  Environment environ_;
};

// The number of the virtual console that is the process's controlling
// terminal; 0 for any other terminal, none, or when it cannot be read.
int getVirtualTerminal(long pid);

} // namespace os
