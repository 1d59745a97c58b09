// Wire bytes and limits of the admin-helper messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plat/Exception.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "testutil.h"
#include "tlOrbSetup/AdminHelperMsgs.h"

namespace am = tlOrbSetup::adminmsg;

namespace {

std::string bytesOf(rdr::MemOutStream& out)
{
  return std::string((const char*)out.data(), (size_t)out.length());
}

std::string str32(const std::string& s)
{
  uint32_t n = (uint32_t)s.size();
  return std::string{(char)(n >> 24), (char)(n >> 16), (char)(n >> 8), (char)n} + s;
}

TEST(AdminHelperMsgs, WriterBytes)
{
  rdr::MemOutStream out;
  am::writeRunCmd(out, {plat::String("/bin/ls"), plat::String("-l")});
  EXPECT_EQ(std::string("\x02", 1) + str32("/bin/ls") + str32("-l"), bytesOf(out));
  rdr::MemOutStream withFile; // the file digests follow the strings
  am::writeRunCmd(withFile, {plat::String("/bin/ls"), plat::String("/p")},
                  {am::fileDigest(1, 3, "abc")});
  EXPECT_EQ(tltest::toHex(std::string("\x02", 1) + str32("/bin/ls") + str32("/p") + "\x01\x01") +
                "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
            tltest::toHex(bytesOf(withFile)));
  rdr::MemOutStream result;
  am::writeRunCmdResult(result, 2);
  EXPECT_EQ(std::string("\x01\x00\x00\x00\x02", 5), bytesOf(result));
  rdr::MemOutStream signal;
  am::writeRunCmdResult(signal, -9);
  EXPECT_EQ(std::string("\x01\xff\xff\xff\xf7", 5), bytesOf(signal));
  rdr::MemOutStream ok;
  am::writeSvrSettingsResult(ok, nullptr);
  EXPECT_EQ(std::string("\x00\x00", 2), bytesOf(ok));
}

TEST(AdminHelperMsgs, RunCmdReader)
{
  struct Case {
    std::string body;
    const char* error; // null: accepted
    std::vector<std::string> args;
  };
  const std::string a1024(1024, 'a');
  const Case cases[] = {
      {"\x01" + str32("/bin/true"), nullptr, {"/bin/true"}},
      {"\x02" + str32("/bin/echo") + str32(a1024), nullptr, {"/bin/echo", a1024}},
      {"\x02" + str32("/bin/echo") + str32(a1024 + "a"), "StringTooLong", {}},
      {std::string("\x00", 1), "RunCmd without a program", {}},
      {"\x01" + str32("/bin/\xff"), nullptr, {"/bin/\xef\xbf\xbd"}},
      {"\x01" + str32(std::string("/bin/true\0x", 11)), "RunCmd argument contains a NUL byte", {}},
      {"\x02" + str32("/bin/echo"), "", {}}, // truncated
      {"\x01\x00\x00", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    rdr::MemInStream in(c.body.data(), (int)c.body.size());
    try {
      std::vector<plat::String> args = am::readRunCmd(in);
      ASSERT_EQ(nullptr, c.error);
      ASSERT_EQ(c.args.size(), args.size());
      for (size_t i = 0; i < args.size(); i++)
        EXPECT_EQ(c.args[i], args[i].get());
    } catch (rdr::StringTooLongException&) {
      EXPECT_STREQ("StringTooLong", c.error);
    } catch (plat::Exception& e) {
      ASSERT_NE(nullptr, c.error);
      if (*c.error) {
        EXPECT_STREQ(c.error, e.str());
      }
    }
  }
}

TEST(AdminHelperMsgs, SvrSettingsMergeAndLimits)
{
  const std::string v8192(8192, 'v');
  std::string body = std::string("\x00\x03", 2) + str32("Password") + str32("a") + str32("PASSWORD") +
                     str32("b") + str32("Other") + str32(v8192);
  plat::CaseInsensitiveStringMap values;
  rdr::MemInStream in(body.data(), (int)body.size());
  am::readSvrSettings(in, values);
  ASSERT_EQ(2u, values.size());
  EXPECT_STREQ("b", values[plat::String("password")].get());
  EXPECT_EQ(8192, values[plat::String("other")].length());

  std::string over = std::string("\x00\x01", 2) + str32("k") + str32(v8192 + "v");
  rdr::MemInStream overIn(over.data(), (int)over.size());
  EXPECT_THROW(am::readSvrSettings(overIn, values), rdr::StringTooLongException);
  EXPECT_EQ(2u, values.size()); // untouched
}

TEST(AdminHelperMsgs, ClientReaders)
{
  std::string err = std::string("\x00\x04", 2) + "fail" + "\x08" + "System-2";
  rdr::MemInStream in(err.data(), (int)err.size());
  am::RunCmdResult r = am::readRunCmdResult(in);
  EXPECT_FALSE(r.ok);
  EXPECT_STREQ("fail", r.error.str());
  EXPECT_STREQ("System-2", r.error.getType());

  uint8_t buf[am::kMaxOutputChunk];
  for (int n : {0, 4097}) {
    std::string body{(char)(n >> 8), (char)n};
    body += std::string((size_t)n, 'x');
    rdr::MemInStream out(body.data(), (int)body.size());
    int len = 0;
    EXPECT_THROW(am::readRunCmdOutput(out, buf, &len), plat::Exception) << n;
  }
  rdr::MemOutStream w;
  EXPECT_THROW(am::writeRunCmdOutput(w, buf, 4097), plat::Exception);
  EXPECT_THROW(am::writeRunCmd(w, {}), plat::Exception);
  EXPECT_EQ(0, w.length());
}

} // namespace
