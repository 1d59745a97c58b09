#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "crypto/Sha.h"
#include "hosted/Package.h"
#include "rdr/Exception.h"

namespace hosted {

const char* const kPackageSignatureSection = "zzz.package.signature";

PackageException::PackageException(const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setType("PackageException");
}

namespace {

constexpr uint32_t kStartMagic = 0x2EBEDEE0;
constexpr uint32_t kEndMagic = 0xF104EACE;
constexpr int kMinPackage = 20;
constexpr int kMaxName = 63;

uint32_t be32(const unsigned char* p)
{
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// Random-access bytes: a caller's buffer or an open file.
class Source {
public:
  virtual ~Source() = default;
  virtual int64_t size() const = 0;
  // Exactly len bytes at off, or EndOfStream.
  virtual void read(int64_t off, void* buf, int len) = 0;

  uint32_t readU32(int64_t off)
  {
    unsigned char b[4];
    read(off, b, 4);
    return be32(b);
  }
};

class MemSource : public Source {
public:
  MemSource(const void* bytes, int length)
    : bytes_(static_cast<const unsigned char*>(bytes)), length_(bytes ? length : 0)
  {
  }
  int64_t size() const override { return length_; }
  void read(int64_t off, void* buf, int len) override
  {
    if (off < 0 || len < 0 || off > length_ || len > length_ - off)
      throw rdr::EndOfStream("End of in-memory input stream");
    if (len > 0)
      memcpy(buf, bytes_ + off, len);
  }

private:
  const unsigned char* bytes_;
  int64_t length_;
};

class FileSource : public Source {
public:
  explicit FileSource(const char* path)
  {
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
      throw plat::SystemExceptionFmt(errno, "Error opening \"%s\"", path);
    struct stat st;
    if (fstat(fd_, &st) < 0) {
      int err = errno;
      ::close(fd_);
      throw plat::SystemException("fstat", err);
    }
    size_ = st.st_size;
  }
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  int64_t size() const override { return size_; }
  void read(int64_t off, void* buf, int len) override
  {
    if (readSome(off, buf, len) != len)
      throw rdr::EndOfStream("End of file");
  }
  // Up to len bytes at off; fewer only at the end of the file.
  int readSome(int64_t off, void* buf, int len)
  {
    int done = 0;
    while (done < len) {
      ssize_t n = pread(fd_, static_cast<char*>(buf) + done, len - done, off + done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0)
        throw plat::SystemException("pread", errno);
      if (n == 0)
        break;
      done += (int)n;
    }
    return done;
  }

private:
  int fd_;
  int64_t size_;
};

// The candidate at off with avail bytes: its length, or 0 when rejected.
uint32_t candidate(Source& src, int64_t off, int64_t avail)
{
  if (avail < kMinPackage)
    return 0;
  unsigned char head[8];
  src.read(off, head, 8);
  uint32_t len = be32(head + 4);
  if (be32(head) != kStartMagic || len < kMinPackage || len > avail)
    return 0;
  unsigned char tail[8];
  src.read(off + len - 8, tail, 8);
  return be32(tail) == len && be32(tail + 4) == kEndMagic ? len : 0;
}

// Section records from pos up to the terminator at term; nothing may run
// past the terminator, which is checked before anything is allocated.
void parseSections(Source& src, int64_t pos, int64_t term, PackageSections& out)
{
  for (;;) {
    if (pos > term)
      throw PackageException("Malformed package file");
    uint32_t n = src.readU32(pos);
    if (n == 0)
      return;
    if (n > kMaxName)
      throw PackageException("Invalid Section Name");
    if (pos + 8 + n > term)
      throw PackageException("Malformed package file");
    char name[kMaxName + 1];
    src.read(pos + 4, name, (int)n);
    name[n] = 0;
    if (strlen(name) != n)
      throw PackageException("Invalid Section Name");
    std::string key(name, n);
    if (out.count(key))
      throw PackageException("Duplicate section (%s) found in package", name);
    uint32_t d = src.readU32(pos + 4 + n);
    int64_t dataAt = pos + 8 + n;
    if ((int64_t)d > term - dataAt || d > 0x7FFFFFFF)
      throw PackageException("Malformed package file");
    plat::MBuf<unsigned char> data((int)d);
    src.read(dataAt, data.data(), (int)d);
    out.emplace(std::move(key), std::move(data));
    pos = dataAt + d;
  }
}

uint64_t elfNumber(const unsigned char* p, int bytes, bool bigEndian)
{
  uint64_t v = 0;
  for (int i = 0; i < bytes; i++)
    v |= (uint64_t)p[bigEndian ? bytes - 1 - i : i] << (8 * i);
  return v;
}

// The package in one of the ELF file's sections: its offset, length set.
int64_t findInElf(Source& src, const unsigned char* ident, uint32_t* len)
{
  const int64_t size = src.size();
  bool is64;
  if (ident[4] == 2)
    is64 = true;
  else if (ident[4] == 1)
    is64 = false;
  else
    throw plat::Exception("Unknown ELF class");
  const bool big = ident[5] == 2;
  const int headerSize = is64 ? 64 : 52;
  const int entrySize = is64 ? 64 : 40;
  unsigned char hdr[64];
  src.read(0, hdr, headerSize);
  uint64_t shoff = is64 ? elfNumber(hdr + 0x28, 8, big) : elfNumber(hdr + 0x20, 4, big);
  uint64_t shnum = is64 ? elfNumber(hdr + 0x3C, 2, big) : elfNumber(hdr + 0x30, 2, big);
  for (uint64_t i = 0; shoff && i < shnum; i++) {
    unsigned char sh[64];
    uint64_t at = shoff + i * entrySize;
    if (at > (uint64_t)size)
      throw rdr::EndOfStream("End of file");
    src.read((int64_t)at, sh, entrySize);
    uint64_t off = is64 ? elfNumber(sh + 0x18, 8, big) : elfNumber(sh + 0x10, 4, big);
    uint64_t sz = is64 ? elfNumber(sh + 0x20, 8, big) : elfNumber(sh + 0x14, 4, big);
    // Compared without forming off + sz, which could wrap.
    if (off && sz && off <= (uint64_t)size && sz <= (uint64_t)size - off) {
      *len = candidate(src, (int64_t)off, (int64_t)sz);
      if (*len)
        return (int64_t)off;
    }
  }
  throw plat::Exception("Package not found in ELF section");
}

// Every position holding the start magic, in order, read in large windows
// that overlap by three bytes so that no magic is missed.
int64_t scan(FileSource& src, uint32_t* len)
{
  static const unsigned char magic[4] = {0x2E, 0xBE, 0xDE, 0xE0};
  const int64_t size = src.size();
  constexpr int kWindow = 1 << 16;
  plat::MBuf<unsigned char> buf(kWindow);
  for (int64_t at = 0; size - at >= kMinPackage; at += kWindow - 3) {
    int n = src.readSome(at, buf.data(), kWindow);
    const unsigned char* p = buf.data();
    const unsigned char* end = p + n;
    while (end - p >= 4) {
      const void* hit = memmem(p, end - p, magic, 4);
      if (!hit)
        break;
      int64_t off = at + (static_cast<const unsigned char*>(hit) - buf.data());
      *len = candidate(src, off, size - off);
      if (*len)
        return off;
      p = static_cast<const unsigned char*>(hit) + 1;
    }
    if (n < kWindow)
      break;
  }
  throw PackageException("Malformed package file");
}

} // namespace

PackageReader::PackageReader(const char* path)
{
  FileSource src(path);
  const int64_t size = src.size();
  if (size < kMinPackage)
    throw PackageException("Package is too small");
  uint32_t len = 0;
  int64_t off = -1;
  unsigned char tail[8];
  src.read(size - 8, tail, 8);
  uint32_t l = be32(tail);
  if (be32(tail + 4) == kEndMagic && l <= size) {
    len = candidate(src, size - l, l);
    if (len)
      off = size - l;
  }
  if (off < 0) {
    unsigned char ident[16];
    src.read(0, ident, 16);
    if (!memcmp(ident, "\x7F" "ELF", 4))
      off = findInElf(src, ident, &len);
    else
      off = scan(src, &len);
  }
  parseSections(src, off + 8, off + len - 12, sections_);
}

PackageReader::PackageReader(int length, const void* bytes)
{
  MemSource src(bytes, length);
  // The length field is not required to be right; without a usable one the
  // sections may run up to the bytes' last four, the terminator.
  int64_t term = src.size() - 4;
  if (src.size() >= 8) {
    uint32_t l = src.readU32(4);
    if (l >= kMinPackage && l <= src.size())
      term = (int64_t)l - 12;
  }
  parseSections(src, 8, term, sections_);
}

plat::MBuf<unsigned char> PackageReader::getSection(const char* name) const
{
  auto it = sections_.find(name ? name : "");
  return it == sections_.end() ? plat::MBuf<unsigned char>() : it->second;
}

plat::MBuf<unsigned char> packageSection(const PackageReader& reader, const char* name)
{
  auto it = reader.sections().find(name ? name : "");
  if (it == reader.sections().end())
    throw PackageException("%s package does not exist", name ? name : "(null)");
  return it->second;
}

plat::MBuf<unsigned char> PackageReader::getChecksum() const
{
  crypto::Sha sha(160, true);
  for (const auto& s : sections_) {
    sha.update((int)s.first.size(), s.first.data());
    sha.update(s.second.length(), s.second.data());
  }
  plat::MBuf<unsigned char> out(20);
  sha.final(out.data(), out.length());
  return out;
}

plat::MBuf<unsigned char> PackageReader::getSignableBytes() const
{
  int64_t total = 0;
  for (const auto& s : sections_)
    if (s.first != kPackageSignatureSection)
      total += 8 + (int64_t)s.first.size() + s.second.length();
  if (total > 0x7FFFFFFF)
    throw PackageException("Malformed package file");
  plat::MBuf<unsigned char> out((int)total);
  unsigned char* p = out.data();
  auto put32 = [&p](uint32_t v) {
    for (int i = 3; i >= 0; i--)
      *p++ = (unsigned char)(v >> (8 * i));
  };
  for (const auto& s : sections_) {
    if (s.first == kPackageSignatureSection)
      continue;
    put32((uint32_t)s.first.size());
    memcpy(p, s.first.data(), s.first.size());
    p += s.first.size();
    put32((uint32_t)s.second.length());
    if (s.second.length())
      memcpy(p, s.second.data(), s.second.length());
    p += s.second.length();
  }
  return out;
}

} // namespace hosted
