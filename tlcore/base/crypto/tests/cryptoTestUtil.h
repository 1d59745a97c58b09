// Helpers shared by the crypto tests: hex text, temporary files and running
// a peer program.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/encodings.h"
#include "rdr/BufferedInStream.h"
#include "rdr/MemOutStream.h"
#include "testutil.h"

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

// Answers of tests/support/crypto_pubkey.py, one per request.
inline std::vector<std::string> pubkeyHelper(const std::vector<std::string>& requests)
{
  std::vector<std::string> out =
      tltest::pythonLines(TL_TEST_SUPPORT_DIR "/crypto_pubkey.py", requests);
  EXPECT_EQ(out.size(), requests.size());
  out.resize(requests.size());
  return out;
}

// The message of the plat::Exception fn throws, or "no error".
template <class Fn> std::string errorOf(Fn fn)
{
  try {
    fn();
  } catch (plat::Exception& e) {
    return e.str();
  }
  return "no error";
}

typedef std::vector<unsigned char> Bytes;

inline Bytes unhex(const std::string& text)
{
  Bytes out;
  if (text == "-")
    return out;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    out.push_back((unsigned char)std::stoi(text.substr(i, 2), nullptr, 16));
  return out;
}
inline std::string hexOf(const Bytes& b)
{
  return hex(b.data(), b.size());
}

// What a writer put into a memory stream.
template <class Writer> Bytes written(Writer write)
{
  rdr::MemOutStream out;
  write(out);
  return Bytes(out.data(), out.data() + out.length());
}

// A non-blocking source that has delivered only `avail` bytes of its data
// so far; rewindable when made non-blocking, as network inputs are.
class PieceStream : public rdr::BufferedNonBlockableInStream {
public:
  PieceStream(const Bytes& data, bool rewindable) : data_(data)
  {
    if (rewindable)
      setNonBlocking(true);
    else
      setRewindable(false);
  }
  size_t avail = 0;

protected:
  int fillBuffer(uint8_t* buf, int maxLen) override
  {
    size_t n = std::min((size_t)maxLen, avail - given_);
    memcpy(buf, data_.data() + given_, n);
    given_ += n;
    return (int)n;
  }

private:
  Bytes data_;
  size_t given_ = 0;
};

// The incremental-read property: fed one byte more at a time, read says
// "not yet" until the last byte, then the whole item is there; the same
// for a fresh read of every two-piece split. read(stream) returns whether
// it completed; check() looks at the result.
template <class Read, class Check> void expectIncremental(const Bytes& data, Read read, Check check)
{
  for (bool rewindable : {false, true}) {
    PieceStream trickle(data, rewindable);
    for (size_t n = 0; n < data.size(); n++) {
      trickle.avail = n;
      ASSERT_FALSE(read(trickle)) << "after " << n << " of " << data.size() << " bytes";
    }
    trickle.avail = data.size();
    ASSERT_TRUE(read(trickle));
    check();
    for (size_t split = 1; split < data.size(); split++) {
      PieceStream twoPieces(data, rewindable);
      twoPieces.avail = split;
      ASSERT_FALSE(read(twoPieces)) << "split at " << split;
      twoPieces.avail = data.size();
      ASSERT_TRUE(read(twoPieces)) << "split at " << split;
      check();
    }
    // A read left halfway on a stream that is gone starts again on a new
    // stream made at the same address.
    alignas(PieceStream) unsigned char slot[sizeof(PieceStream)];
    for (size_t avail : {data.size() / 2, data.size()}) {
      PieceStream* s = new (slot) PieceStream(data, rewindable);
      s->avail = avail;
      bool done = read(*s);
      s->~PieceStream();
      ASSERT_EQ(avail == data.size(), done) << "a new stream where the last one was";
    }
    check();
  }
}

} // namespace cryptotest
