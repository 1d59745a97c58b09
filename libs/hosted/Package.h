// The package container: named byte sections framed by magic numbers at
// both ends, found standing alone, at the tail of another file, in a
// section of an ELF executable or by scanning.
//
// Layout (big-endian): 2E BE DE E0, total length L, section records (name
// length 1..63, name, data length, data) in byte order of their names, a
// zero name length, L again, F1 04 EA CE. Readers and writers are plain
// values owning their sections; one thread at a time.
#pragma once

#include <stdint.h>

#include <map>
#include <string>

#include "plat/Exception.h"
#include "plat/MBuf.h"

namespace rdr {
class OutStream;
} // namespace rdr

namespace hosted {

// Type "PackageException"; printf-style message.
class PackageException : public plat::Exception {
public:
  PackageException(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};

// Name order is byte order (std::string compares as unsigned char).
typedef std::map<std::string, plat::MBuf<unsigned char>> PackageSections;

// The one section left out of the signable bytes.
extern const char* const kPackageSignatureSection;

class PackageReader {
public:
  // Locates the package in the file (tail, ELF section, then a scan).
  explicit PackageReader(const char* path);
  // Bytes that begin with a package; nothing past them is read.
  PackageReader(int length, const void* bytes);

  // The section's bytes; empty when there is no such section.
  plat::MBuf<unsigned char> getSection(const char* name) const;
  const PackageSections& sections() const { return sections_; }
  // SHA-1 over every section's name and data in name order, no lengths.
  plat::MBuf<unsigned char> getChecksum() const;
  // The section records in name order without the signature section.
  plat::MBuf<unsigned char> getSignableBytes() const;

private:
  PackageSections sections_;
};

// The section's bytes, or "%s package does not exist".
plat::MBuf<unsigned char> packageSection(const PackageReader& reader, const char* name);

class PackageWriter {
public:
  // Replaces a section of that name. Names are 1 to 63 bytes without NUL.
  void setSection(const char* name, const void* data, int length);
  // The whole package, then a flush.
  void write(rdr::OutStream& out) const;
  void writeFile(const char* path) const;
  const PackageSections& sections() const { return sections_; }

private:
  PackageSections sections_;
};

} // namespace hosted
