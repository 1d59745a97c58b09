#include "os/host.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

std::string run(const char* cmd)
{
  std::string out;
  FILE* f = popen(cmd, "r");
  if (!f)
    return out;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
    out.append(buf, n);
  pclose(f);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
    out.pop_back();
  return out;
}

} // namespace

// Exported, so that the stack trace can name it.
__attribute__((noinline)) void distinctiveCallerForBacktrace(std::vector<plat::String>& out)
{
  os::getBacktrace(out);
  asm volatile("" ::: "memory");
}

TEST(Host, ShortHostNameMatchesUname)
{
  std::string full = run("uname -n");
  ASSERT_FALSE(full.empty());
  std::string expected = full.substr(0, full.find('.'));
  EXPECT_EQ(expected, os::getShortHostName().str());
}

TEST(Host, BacktraceStartsAtTheCaller)
{
  std::vector<plat::String> frames;
  distinctiveCallerForBacktrace(frames);
  ASSERT_GE(frames.size(), 2u);
  ASSERT_LE(frames.size(), 61u);
  EXPECT_THAT(frames[0].str(), ::testing::StartsWith(" 1 "));
  EXPECT_THAT(frames[0].str(), ::testing::HasSubstr("distinctiveCallerForBacktrace"));
  for (size_t i = 0; i < frames.size(); i++) {
    char prefix[8];
    snprintf(prefix, sizeof(prefix), "%2d ", int(i + 1));
    EXPECT_THAT(frames[i].str(), ::testing::StartsWith(prefix));
  }
}
