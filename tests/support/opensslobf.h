// openssl as the peer of the obfuscated password form: DES-ECB of whole
// blocks under the obfuscation key with each byte's bit order reversed
// (our key schedule reads bits least significant first).
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

namespace tltest {

constexpr uint8_t kObfKey[8] = {0x5c, 0x0e, 0x91, 0xa2, 0xd4, 0x7b, 0x3f, 0x68};

// Enciphers (or with decrypt deciphers) whole 8-byte blocks.
inline std::string opensslDes(const std::string& blocks, bool decrypt = false)
{
  char keyHex[17];
  for (int i = 0; i < 8; i++) {
    uint8_t r = 0;
    for (int b = 0; b < 8; b++)
      r |= ((kObfKey[i] >> b) & 1) << (7 - b);
    snprintf(keyHex + 2 * i, 3, "%02x", r);
  }
  char in[] = "/tmp/obfpasswd-XXXXXX";
  int fd = mkstemp(in);
  EXPECT_EQ((ssize_t)blocks.size(), write(fd, blocks.data(), blocks.size()));
  close(fd);
  std::string cmd = std::string("openssl enc ") + (decrypt ? "-d " : "") +
                    "-des-ecb -nopad -provider legacy -provider default -K " + keyHex + " -in " +
                    in;
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[1024];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof(buf), p)) > 0)
    out.append(buf, n);
  EXPECT_EQ(0, p ? pclose(p) : -1) << cmd;
  unlink(in);
  return out;
}

} // namespace tltest
