#include <string.h>

#include "hosted/Package.h"
#include "rdr/FileOutStream.h"
#include "rdr/OutStream.h"

namespace hosted {

void PackageWriter::setSection(const char* name, const void* data, int length)
{
  PLAT_ASSERT(name && "packageName");
  sections_[name] = plat::MBuf<unsigned char>(static_cast<const unsigned char*>(data), length);
}

void PackageWriter::write(rdr::OutStream& out) const
{
  uint64_t total = 20;
  for (const auto& s : sections_)
    total += 8 + s.first.size() + (uint64_t)s.second.length();
  if (total > 0xFFFFFFFFu)
    throw PackageException("Package too large");
  out.writeU32(0x2EBEDEE0);
  out.writeU32((uint32_t)total);
  for (const auto& s : sections_) {
    out.writeU32((uint32_t)s.first.size());
    out.writeBytes(s.first.data(), (int)s.first.size());
    out.writeU32((uint32_t)s.second.length());
    out.writeBytes(s.second.data(), s.second.length());
  }
  out.writeU32(0);
  out.writeU32((uint32_t)total);
  out.writeU32(0xF104EACE);
  out.flush();
}

void PackageWriter::writeFile(const char* path) const
{
  rdr::FileOutStream out(path);
  write(out);
  out.close();
}

} // namespace hosted
