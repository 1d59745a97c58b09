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

#include "testutil.h"

namespace ostest {

using tltest::TempDir;

// Forked children end with _exit and report through their exit status.
using tltest::inChild;

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
