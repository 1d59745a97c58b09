// Helpers shared by the crypto tests: hex text, temporary files and running
// a peer program.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace cryptotest {

// Lower-case hex; "-" for nothing, so an empty field survives a split.
inline std::string hex(const unsigned char* p, size_t n)
{
  std::string s;
  char buf[3];
  for (size_t i = 0; i < n; i++) {
    snprintf(buf, sizeof(buf), "%02x", p[i]);
    s += buf;
  }
  return s.empty() ? "-" : s;
}

inline std::string writeTemp(const void* data, size_t n)
{
  char path[] = "/tmp/crypto_test_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, data, n), static_cast<ssize_t>(n));
  close(fd);
  return path;
}

// The command's whole output; a non-zero exit fails the test.
inline std::string run(const std::string& command)
{
  std::string out;
  FILE* f = popen(command.c_str(), "r");
  EXPECT_TRUE(f) << command;
  char buf[4096];
  size_t n;
  while (f && (n = fread(buf, 1, sizeof(buf), f)) > 0)
    out.append(buf, n);
  EXPECT_EQ(f ? pclose(f) : -1, 0) << command;
  return out;
}

inline std::vector<std::string> split(const std::string& text, const char* separators)
{
  std::vector<std::string> out;
  size_t at = text.find_first_not_of(separators);
  while (at != std::string::npos) {
    size_t next = text.find_first_of(separators, at);
    out.push_back(text.substr(at, next - at));
    at = text.find_first_not_of(separators, next);
  }
  return out;
}

} // namespace cryptotest
