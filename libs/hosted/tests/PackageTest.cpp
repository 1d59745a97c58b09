// The package container: its bytes, the three ways of finding it in a
// file, its errors, and agreement with the python codec.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hosted/Package.h"
#include "plat/Json.h"
#include "rdr/MemOutStream.h"
#include "testutil.h"

using namespace hosted;

namespace {

const std::string kRef = std::string(TL_TEST_SUPPORT_DIR) + "/bed_reference.py";
const std::string kEmpty = "2ebedee000000014000000000000001" "4f104eace";

std::string unhex(const std::string& hex)
{
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
  return out;
}

std::string hexOf(const plat::MBuf<unsigned char>& b)
{
  return tltest::toHex(std::string((const char*)b.data(), b.length()));
}

std::string written(const PackageWriter& w)
{
  rdr::MemOutStream out;
  w.write(out);
  return std::string((const char*)out.data(), out.length());
}

std::string u32(uint32_t v)
{
  return std::string{(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v};
}

// A package of the given section records (already encoded) with L right.
std::string frame(const std::string& records)
{
  uint32_t total = (uint32_t)records.size() + 20;
  return unhex("2ebedee0") + u32(total) + records + u32(0) + u32(total) + unhex("f104eace");
}

std::string record(const std::string& name, const std::string& data)
{
  return u32((uint32_t)name.size()) + name + u32((uint32_t)data.size()) + data;
}

std::string sample()
{
  PackageWriter w;
  w.setSection("b", "\x02", 1);
  w.setSection("a", "\x01", 1);
  w.setSection("zzz.package.signature", "sig", 3);
  return written(w);
}

// The error of reading, or "ok:" and the section names.
template <class Make> std::string outcome(Make make)
{
  try {
    PackageReader r = make();
    std::string names = "ok:";
    for (const auto& s : r.sections())
      names += " " + s.first;
    return names;
  } catch (plat::Exception& e) {
    return e.str();
  }
}

std::string readFile(const std::string& path)
{
  return outcome([&] { return PackageReader(path.c_str()); });
}

std::string readBytes(const std::string& bytes)
{
  return outcome([&] { return PackageReader((int)bytes.size(), bytes.data()); });
}

TEST(Package, EmptyPackageAndChecksum)
{
  EXPECT_EQ(kEmpty, tltest::toHex(written(PackageWriter())));
  tltest::TempFile empty(unhex(kEmpty));
  EXPECT_EQ("ok:", readFile(empty.path()));
  tltest::TempFile small(unhex(kEmpty).substr(1));
  EXPECT_EQ("Package is too small", readFile(small.path()));

  std::string ab = frame(record("a", "\x01") + record("b", "\x02"));
  EXPECT_EQ("7b4b68f47e8c570a49d6d132e043d778012c9dd1",
            hexOf(PackageReader((int)ab.size(), ab.data()).getChecksum()));
  std::string pkg = sample();
  PackageReader r((int)pkg.size(), pkg.data());
  EXPECT_EQ(tltest::toHex(record("a", "\x01") + record("b", "\x02")), hexOf(r.getSignableBytes()));
  EXPECT_EQ("02", hexOf(r.getSection("b")));
  EXPECT_EQ(0, r.getSection("c").length());
  EXPECT_EQ("02", hexOf(packageSection(r, "b")));
  try {
    packageSection(r, "vendorCfg.Certificates");
    FAIL();
  } catch (PackageException& e) {
    EXPECT_STREQ("vendorCfg.Certificates package does not exist", e.str());
    EXPECT_STREQ("PackageException", e.getType());
  }
}

TEST(Package, MalformedSections)
{
  std::string name64(64, 'n');
  struct {
    std::string bytes;
    std::string result;
  } cases[] = {
      {frame(record(name64, "d")), "Invalid Section Name"},
      {frame(record(std::string("a\0b", 3), "d")), "Invalid Section Name"},
      {frame(record("dup", "1") + record("dup", "2")), "Duplicate section (dup) found in package"},
      {frame(record(std::string(63, 'n'), "d")), "ok: " + std::string(63, 'n')},
      // A data length past the terminator, however large.
      {frame(u32(1) + "a" + u32(0xFFFFFFF0) + "xxxx"), "Malformed package file"},
      {frame(u32(1) + "a" + u32(5) + "xxxx"), "Malformed package file"},
      {frame(u32(40) + "abc"), "Malformed package file"},
      // The byte form never reads past the bytes given, whatever L says.
      {unhex("2ebedee0ffffffff") + u32(2) + "ab" + u32(100), "Malformed package file"},
      {unhex("2ebedee0"), "Malformed package file"},
  };
  // The terminator may end the bytes when L overstates them.
  EXPECT_EQ("ok: ab", readBytes(unhex("2ebedee0ffffffff") + record("ab", "x") + u32(0)));
  for (auto& c : cases) {
    EXPECT_EQ(c.result, readBytes(c.bytes)) << tltest::toHex(c.bytes);
    tltest::TempFile f(c.bytes);
    if (c.bytes.size() >= 20) {
      EXPECT_EQ(c.result, readFile(f.path())) << tltest::toHex(c.bytes);
    }
  }
}

TEST(Package, FoundAtTheTailInElfSectionsAndByScanning)
{
  tltest::TempDir dir("tltest_pkg");
  std::string pkg = sample();
  std::string pkgPath = dir.write("pkg.bin", pkg);
  std::string trueBytes = tltest::commandOutput("cat /bin/true");

  EXPECT_EQ("ok: a b zzz.package.signature", readFile(dir.write("true", trueBytes + pkg)));
  EXPECT_EQ("Package not found in ELF section", readFile(dir.write("plain", trueBytes)));

  for (const char* format : {"elf64-x86-64", "elf32-i386"}) {
    std::string elf = dir / (std::string(format) + ".o");
    tltest::commandOutput("cd " + dir.path() + " && objcopy -I binary -O " + format +
                          " pkg.bin " + elf);
    std::string bytes = tltest::commandOutput("cat " + elf) + std::string(100, 'x');
    EXPECT_EQ("ok: a b zzz.package.signature", readFile(dir.write("tail.o", bytes))) << format;
  }
  std::string bad = trueBytes;
  bad[4] = 3;
  EXPECT_EQ("Unknown ELF class", readFile(dir.write("bad", bad)));

  // A section whose offset plus size wraps around is passed over.
  std::string elf(64, '\0');
  elf.replace(0, 6, "\x7f" "ELF\x02\x01");
  elf[0x28] = 64;
  elf[0x3C] = 1;
  std::string sh(64, '\0');
  sh.replace(0x18, 8, std::string("\x00\xff\xff\xff\xff\xff\xff\xff", 8));
  sh.replace(0x20, 8, std::string("\x00\x02\x00\x00\x00\x00\x00\x00", 8));
  EXPECT_EQ("Package not found in ELF section", readFile(dir.write("wrap", elf + sh + pkg + "x")));

  // The scan, with the magic across window boundaries and a false start.
  for (size_t at : {1022u, 2040u, 65534u, 65536u * 3 - 2}) {
    std::string junk(at, 'j');
    junk.replace(10, 8, unhex("2ebedee000000030"));
    std::string file = junk + pkg + "trailing junk";
    EXPECT_EQ("ok: a b zzz.package.signature", readFile(dir.write("scan", file))) << at;
  }
  EXPECT_EQ("Malformed package file", readFile(dir.write("none", std::string(5000, 'j'))));
  EXPECT_NE(std::string::npos, readFile(dir / "missing").find("Error opening"));
}

// Packages from the python codec read here section for section, with the
// same checksum and signable bytes; written here, they are the same bytes.
TEST(Package, AgreesWithPython)
{
  std::vector<std::string> lines =
      tltest::commandLines("/usr/bin/python3 " + kRef + " package-gen 3 60");
  ASSERT_EQ(60u, lines.size());
  for (const std::string& line : lines) {
    plat::JsonPtr<plat::JsonObject> doc =
        plat::toJsonObject(plat::JsonValue::parse(line.data(), (int)line.size(), nullptr));
    std::string bytes = unhex(doc->get("package")->asString().str());
    PackageReader r((int)bytes.size(), bytes.data());
    tltest::TempFile file("prefix bytes " + bytes);
    PackageReader fromFile(file.path().c_str());
    const plat::JsonObject& sections = doc->get("sections")->asObject();
    ASSERT_EQ(sections.size(), (int)r.sections().size());
    ASSERT_EQ(sections.size(), (int)fromFile.sections().size());
    PackageWriter w;
    for (const auto& m : sections) {
      EXPECT_EQ(std::string(m.value->asString().str()), hexOf(r.getSection(m.key)));
      EXPECT_EQ(std::string(m.value->asString().str()), hexOf(fromFile.getSection(m.key)));
      std::string data = unhex(m.value->asString().str());
      w.setSection(m.key, data.data(), (int)data.size());
    }
    EXPECT_EQ(std::string(doc->get("checksum")->asString().str()), hexOf(r.getChecksum()));
    EXPECT_EQ(std::string(doc->get("signable")->asString().str()), hexOf(r.getSignableBytes()));
    EXPECT_EQ(tltest::toHex(bytes), tltest::toHex(written(w)));
  }
}

} // namespace
