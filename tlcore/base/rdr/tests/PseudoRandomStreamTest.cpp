// The pseudo-random stream against a Python model of the two PCG32
// generators and the 8-byte window, over mixed read sizes and seeds.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rdr/PseudoRandomStream.h"

using namespace rdr;

namespace {

// Runs the operations of one request line ("u8", "u32", "b10", ...) and
// answers as the reference does: the values, then the position.
std::string run(uint64_t seed, const std::string& ops)
{
  PseudoRandomStream s(seed, true);
  std::string out;
  size_t i = 0;
  while (i < ops.size()) {
    size_t j = ops.find(' ', i);
    std::string op = ops.substr(i, j == std::string::npos ? std::string::npos : j - i);
    i = j == std::string::npos ? ops.size() : j + 1;
    unsigned long long v;
    if (op == "u8")
      v = s.readU8();
    else if (op == "u16")
      v = s.readU16();
    else if (op == "u32")
      v = s.readU32();
    else if (op == "u64")
      v = s.readU64();
    else
      v = s.readU32Below((uint32_t)std::stoul(op.substr(1), nullptr, 0));
    out += std::to_string(v) + " ";
  }
  return out + std::to_string(s.pos());
}

TEST(PseudoRandomStream, MatchesReference)
{
  struct Case {
    uint64_t seed;
    std::string ops;
  } cases[] = {
      {0, "u32 u32 u32 u32 u32 u32"},
      {42, "u8 u32 u32 u64 b10 b0 u16"},
      {0xFFFFFFFFFFFFFFFFull, "u64 u64 u8 u8 u8 u8 u8 u8 u8 u8 u8"},
      {123456789, "u16 u16 u16 u16 u16 u64 u32"},
      // Thresholds that reject often: 2^31 + 1 rejects nearly half.
      {7, "b1 b3 b2147483649 b2147483649 b2147483649 b2147483649 b4294967295 b1000"},
  };
  char path[] = "/tmp/rdr_prs_requests_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  FILE* req = fdopen(fd, "w");
  for (const Case& c : cases)
    fprintf(req, "%llu %s\n", (unsigned long long)c.seed, c.ops.c_str());
  fclose(req);
  std::string cmd = std::string("/usr/bin/python3 ") + TL_TEST_SUPPORT_DIR +
                    "/rdr_pseudorandom_reference.py < " + path;
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[4096];
  for (const Case& c : cases) {
    ASSERT_NE(fgets(line, sizeof(line), p), nullptr);
    std::string expected(line);
    expected.erase(expected.find_last_not_of('\n') + 1);
    EXPECT_EQ(run(c.seed, c.ops), expected) << c.seed << ": " << c.ops;
  }
  EXPECT_EQ(pclose(p), 0);
  unlink(path);
}

TEST(PseudoRandomStream, LargeReadFails)
{
  PseudoRandomStream s(1, true);
  uint8_t buf[16];
  try {
    s.getBytes(buf, 16);
    ADD_FAILURE() << "16 bytes in one request";
  } catch (plat::Exception& e) {
    EXPECT_STREQ(e.str(), "InStream overrun: buffer size exceeded");
  }
}

} // namespace
