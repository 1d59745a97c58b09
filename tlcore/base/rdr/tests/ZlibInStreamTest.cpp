// The inflater against files made by gzip(1) and by Python's gzip and zlib
// modules (with every optional header field), read whole and fed one byte at
// a time; and the refusals: a bad header, a trailer that does not match, data
// cut short. Only a verified end is ZlibEndOfStream.
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/ZlibInStream.h"
#include "rdr/tests/TrickleInStream.h"

using namespace rdr;

namespace {

class ZlibSamples : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    char tmpl[] = "/tmp/rdr_zlib_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::string cmd = std::string("/usr/bin/python3 ") + TL_TEST_SUPPORT_DIR +
                      "/rdr_gzip_samples.py " + dir + " && gzip -N -c " + dir +
                      "/module.raw > " + dir + "/gzipN.gz && cp " + dir + "/module.raw " + dir +
                      "/gzipN.raw";
    ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
  }
  static void TearDownTestSuite() { system(("rm -rf " + dir).c_str()); }

  static std::string load(const std::string& name)
  {
    std::string s;
    FILE* f = fopen((dir + "/" + name).c_str(), "rbe");
    EXPECT_NE(f, nullptr) << name;
    char buf[8192];
    size_t n;
    while (f && (n = fread(buf, 1, sizeof(buf), f)) > 0)
      s.append(buf, n);
    if (f)
      fclose(f);
    return s;
  }

  static std::string dir;
};
std::string ZlibSamples::dir;

struct Result {
  std::string data;
  std::string error; // "" after a verified end
  int blocked = 0;   // times check(false, 1) said "no data"
};

// Reads everything, checkpointing after each window as a consumer does. A
// trickled source gets one more byte each time the inflater must wait.
Result inflateAll(const std::string& packed, bool gzip, bool trickled)
{
  TrickleInStream trickle(packed);
  MemInStream mem(packed.data(), (int)packed.size());
  InStream* src = trickled ? (InStream*)&trickle : &mem;
  ZlibInStream z(0, gzip);
  Result r;
  try {
    for (;;) {
      try {
        z.setUnderlying(src);
        break;
      } catch (BlockException&) {
        PLAT_ASSERT(trickled && !trickle.allArrived());
        trickle.arrive(1);
      }
    }
    for (;;) {
      if (!z.check(false, 1)) {
        PLAT_ASSERT(trickled && !trickle.allArrived());
        r.blocked++;
        trickle.arrive(1);
        continue;
      }
      r.data.append((const char*)z.getPtr(), z.nUnread());
      z.setPtr(z.getEnd());
      z.setCheckpoint();
    }
  } catch (ZlibEndOfStream& e) {
    EXPECT_STREQ(e.str(), "End of zlib stream");
  } catch (EndOfStream& e) {
    r.error = std::string("unexpected EndOfStream: ") + e.str();
  } catch (plat::Exception& e) {
    r.error = e.str();
  }
  return r;
}

TEST_F(ZlibSamples, InflateWholeAndByteByByte)
{
  const std::string gzipN = load("gzipN.gz");
  ASSERT_GT(gzipN.size(), 4u);
  EXPECT_TRUE(gzipN[3] & 8) << "gzip -N stores the name";

  struct Case {
    const char* file;
    bool gzip;
  } cases[] = {{"gzipN.gz", true},  {"module.gz", true}, {"fields.gz", true},
               {"stored.gz", true}, {"empty.gz", true},  {"zlib.z", false}};
  for (const Case& c : cases) {
    std::string packed = load(c.file);
    std::string name = c.file;
    std::string raw = load(name.substr(0, name.rfind('.')) + ".raw");
    for (bool trickled : {false, true}) {
      Result r = inflateAll(packed, c.gzip, trickled);
      EXPECT_EQ(r.error, "") << c.file;
      EXPECT_EQ(r.data.size(), raw.size()) << c.file;
      EXPECT_TRUE(r.data == raw) << c.file << (trickled ? " byte by byte" : "");
      if (trickled) {
        EXPECT_GT(r.blocked, 0) << c.file;
      }
    }
  }
}

TEST_F(ZlibSamples, Refusals)
{
  const char* truncated = "ZlibInStream: compressed data truncated";
  const char* badHeader = "Bad gzip header";
  auto flip = [](long at) {
    return [at](std::string& s) { s[at < 0 ? s.size() + at : at] ^= 0x01; };
  };
  auto cut = [](long at) {
    return [at](std::string& s) { s.resize(at < 0 ? s.size() + at : at); };
  };
  auto keep = [](std::string&) {};
  struct Case {
    const char* name;
    const char* file;
    std::function<void(std::string&)> mutate;
    const char* error;
  } cases[] = {
      {"magic 1F 8C", "module.gz", [](std::string& s) { s[1] = (char)0x8C; }, badHeader},
      {"method 7", "module.gz", [](std::string& s) { s[2] = 7; }, badHeader},
      {"reserved flag", "module.gz", [](std::string& s) { s[3] |= 0x20; }, badHeader},
      {"header cut short", "module.gz", cut(5), badHeader},
      {"no bytes at all", "module.gz", cut(0), badHeader},
      {"header CRC wrong", "badhcrc.gz", keep, badHeader},
      {"CRC byte flipped", "module.gz", flip(-8), "ZlibInStream: gzip trailer CRC mismatch"},
      {"size wrong", "module.gz", flip(-1), "ZlibInStream: gzip trailer size mismatch"},
      {"stored data changed", "stored.gz", flip(20000), "ZlibInStream: gzip trailer CRC mismatch"},
      {"trailer cut short", "module.gz", cut(-3), truncated},
      {"no trailer", "module.gz", cut(-8), truncated},
      {"body cut in half", "module.gz", cut(12000), truncated},
      {"empty data without trailer", "empty.gz", cut(-8), truncated},
      {"zlib cut in half", "zlib.z", cut(12000), truncated},
      {"zlib check value wrong", "zlib.z", flip(-1), "ZlibInStream: inflate failed with error -3"},
  };
  for (const Case& c : cases) {
    std::string packed = load(c.file);
    c.mutate(packed);
    bool gzip = std::string(c.file).find(".gz") != std::string::npos;
    for (bool trickled : {false, true})
      EXPECT_EQ(inflateAll(packed, gzip, trickled).error, c.error)
          << c.name << (trickled ? " byte by byte" : "");
  }
}

} // namespace
