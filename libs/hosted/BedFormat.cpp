// The BED log notation.
#include <string.h>

#include "hosted/Bed.h"
#include "plat/DString.h"
#include "plat/encodings.h"
#include "plat/utf8.h"
#include "rdr/MemOutStream.h"

namespace hosted {

namespace {

constexpr int kMaxDepth = 32;

} // namespace

// One level of nesting for the duration of a composite; the indentation
// and depth come back also when rendering fails.
class BedFormatter::Level {
public:
  explicit Level(BedFormatter& f) : f_(f), indent_(f.indent_), depth_(f.depth_)
  {
    if (f.depth_ >= kMaxDepth)
      throw BedException("Unsupported nesting");
    f.depth_++;
    f.indent_ += 2;
  }
  ~Level()
  {
    f_.indent_ = indent_;
    f_.depth_ = depth_;
  }
  unsigned outer() const { return indent_; }

private:
  BedFormatter& f_;
  unsigned indent_;
  int depth_;
};

void BedFormatter::writeNewline(unsigned indent)
{
  out_.write("\n");
  out_.writeRepeated(' ', (int)indent);
}

void BedFormatter::writeComposite(const char* open, const BedValuePtr* first,
                                  const BedValuePtr* last, const char* close)
{
  Level level(*this);
  out_.write(open);
  for (const BedValuePtr* c = first; c != last; c++) {
    writeNewline(indent_);
    (*c)->format(*this, nullptr);
  }
  writeNewline(level.outer());
  out_.write(close);
}

void BedFormatter::writeMap(const BedMap& map)
{
  Level level(*this);
  out_.write("{");
  for (const BedMap::Entry& e : map) {
    writeNewline(indent_);
    writeQuoted(e.key() ? e.key() : "");
    out_.write(" ");
    e.value->format(*this, e.key());
  }
  writeNewline(level.outer());
  out_.write("}");
}

void BedFormatter::writeQuoted(const char* text)
{
  plat::DString s;
  s.append("\"");
  const char* p = text;
  const char* run = p;
  while (*p) {
    unsigned char c = (unsigned char)*p;
    if (c >= 32 && c <= 126 && c != '"' && c != '\\') {
      p++;
      continue;
    }
    s.append(run, (int)(p - run));
    const char* at = p++;
    int cp = c;
    if (c >= 0x80) {
      cp = plat::utf8DecodeRest(c, &p, (int)strnlen(at, 4));
      if (cp < 0) {
        run = p = at;
        break;
      }
    }
    switch (cp) {
    case '\t': s.append("\\t"); break;
    case '\n': s.append("\\n"); break;
    case '\r': s.append("\\r"); break;
    case '"': s.append("\\\""); break;
    case '\\': s.append("\\\\"); break;
    default: s.appendf("\\u%04X", cp); break;
    }
    run = p;
  }
  s.append(run, (int)(p - run));
  s.append("\"");
  out_.write(s.get(), s.length());
}

void BedFormatter::writeNested(const plat::MBuf<unsigned char>& bytes)
{
  plat::String text;
  try {
    BedReader reader(bytes.length(), bytes.data());
    // One depth budget for the renderings nested in each other.
    reader.setDepth(depth_);
    BedValuePtr root = decodeBed(reader, kBedMediaType, true);
    rdr::MemOutStream mem;
    BedFormatter inner(mem);
    inner.setDepth(depth_);
    root->format(inner, nullptr);
    plat::DString d;
    mem.releaseString(d);
    text = d.takeString();
  } catch (plat::Exception& e) {
    text = plat::format("<not BED-encoded data: %s>", e.str());
  }
  plat::DString prefix;
  prefix.append("\n");
  for (unsigned i = 0; i < indent_; i++)
    prefix.append(" ");
  prefix.append("  # ");
  out_.write(prefix.get(), prefix.length());
  for (const char* p = text.str(); *p;) {
    const char* nl = strchr(p, '\n');
    if (!nl) {
      out_.write(p);
      break;
    }
    out_.write(p, (int)(nl - p));
    out_.write(prefix.get(), prefix.length());
    p = nl + 1;
  }
}

void BedInt::format(BedFormatter& f, const char*) const
{
  f.out().printf("%lld", (long long)value_);
}

void BedBool::format(BedFormatter& f, const char*) const
{
  f.out().write(value_ ? "@TRUE" : "@FALSE");
}

void BedTime::format(BedFormatter& f, const char*) const
{
  struct tm tm;
  plat::timeToTmUtc(&tm, ticks_);
  plat::DString date;
  plat::formatTm(date, "@date-time(%Y-%m-%dT%H:%M:%S", tm);
  int64_t ms = ticks_ / plat::kTicksPerMilli % 1000;
  if (ms < 0)
    ms += 1000;
  f.out().write(date.get(), date.length());
  f.out().printf(".%03d+00:00)", (int)ms);
}

void BedString::format(BedFormatter& f, const char*) const { f.writeQuoted(text_); }

void BedOpaque::format(BedFormatter& f, const char* key) const
{
  plat::String b64 = plat::binToBase64(data_.length(), data_.data(), false);
  f.out().printf("@binary(%s)", b64.str());
  if (!key)
    return;
  const unsigned char* d = data_.data();
  if (!strcmp(key, "any/ip-address")) {
    if (data_.length() == 4) {
      f.out().printf(" # %d.%d.%d.%d", d[0], d[1], d[2], d[3]);
    } else if (data_.length() == 16) {
      f.out().write(" # ");
      for (int i = 0; i < 8; i++)
        f.out().printf(i ? ":%x" : "%x", d[2 * i] << 8 | d[2 * i + 1]);
    }
  } else if (!strcmp(key, "any/application-data")) {
    f.writeNested(data_);
  }
}

void BedSeq::format(BedFormatter& f, const char*) const { f.writeComposite("[", elements_.data(), elements_.data() + elements_.size(), "]"); }

void BedMap::format(BedFormatter& f, const char*) const { f.writeMap(*this); }

void BedUnknown::format(BedFormatter& f, const char*) const
{
  if (type_ < 0) {
    plat::String b64 = plat::binToBase64(raw_.length(), raw_.data(), false);
    f.out().printf("@unknown(%s)", b64.str());
    return;
  }
  char open[24];
  snprintf(open, sizeof(open), "@unknown[%d", type_);
  f.writeComposite(open, children_.data(), children_.data() + children_.size(), "]");
}

plat::String formatBed(int length, const void* bytes, const char* contentType)
{
  try {
    BedReader reader(length, bytes);
    BedValuePtr root = decodeBed(reader, contentType, true);
    return root->toText();
  } catch (plat::Exception& e) {
    return plat::format("<not BED-encoded data: %s>", e.str());
  }
}

} // namespace hosted
