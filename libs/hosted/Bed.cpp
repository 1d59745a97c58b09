// BED values: the value kinds, their errors and copies. The wire form is in
// BedWriter.cpp and BedReader.cpp, the log notation in BedFormat.cpp.
#include "hosted/Bed.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "hosted/BedArena.h"
#include "hosted/BedCoding.h"
#include "rdr/MemOutStream.h"

namespace hosted {

const char* const kBedMediaType = "application/vnd.tessaly.bed";

plat::IntParameter maxBedSize("_MaxBedSize", "The most bytes one BED document may take", 16777216,
                              plat::ParamLevel::kBasic, nullptr, 0, 2147483647);

using namespace bedcoding;
using namespace bedarena;

// --- Errors ----------------------------------------------------------------------

BedException::BedException(const char* message) : plat::Exception(message)
{
  setType("HostedBED");
}

BedException::BedException(int, const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setType("HostedBED");
}

BedBadType::BedBadType() : BedException("Unexpected BED type") {}

// --- Values -----------------------------------------------------------------------

BedValue::~BedValue() = default;
BedInt& BedValue::asInt() { throw BedBadType(); }
BedBool& BedValue::asBool() { throw BedBadType(); }
BedTime& BedValue::asTime() { throw BedBadType(); }
BedString& BedValue::asString() { throw BedBadType(); }
BedOpaque& BedValue::asOpaque() { throw BedBadType(); }
BedMap& BedValue::asMap() { throw BedBadType(); }
BedSeq& BedValue::asSeq() { throw BedBadType(); }

plat::String BedValue::toText() const
{
  rdr::MemOutStream out;
  BedFormatter f(out);
  format(f, nullptr);
  plat::DString text;
  out.releaseString(text);
  return text.takeString();
}

BedValue& BedSeq::get(int index) const
{
  if (index < 0 || index >= size())
    throw BedException("BED index not found");
  return *elements_[index];
}

plat::StringSet BedSeq::toStringSet() const
{
  plat::StringSet set;
  for (const BedValuePtr& v : elements_)
    set.insert(plat::String(v->asString().value()));
  return set;
}

void BedSeq::appendStrings(const plat::StringSet& set)
{
  for (const plat::String& s : set)
    append(BedValuePtr(new BedString(s.str())));
}

const BedSeq& BedSeq::empty()
{
  static const BedSeq* e = new BedSeq;
  return *e;
}

BedString::BedString(const char* text, int length)
{
  if (!text)
    text = "";
  length_ = length < 0 ? (int)strlen(text) : length;
  text_ = static_cast<char*>(plat::jsonAllocate(length_ + 1));
  memcpy(text_, text, length_);
  text_[length_] = 0;
}

BedString::~BedString()
{
  if (ownsText_)
    plat::jsonRelease(text_, length_ + 1);
}

void BedMap::set(const char* key, const BedValuePtr& value)
{
  for (Entry& e : entries_) {
    if (plat::strCmpNull(e.key(), key) == 0) {
      e.value = value;
      return;
    }
  }
  entries_.emplace_back();
  Entry& e = entries_.back();
  e.key_ = key ? ownKey(key, (int)strlen(key)) : nullptr;
  e.value = value;
}

const BedMap::Entry* BedMap::find(const char* key) const
{
  for (const Entry& e : entries_)
    if (plat::strCmpNull(e.key(), key) == 0)
      return &e;
  return nullptr;
}

BedValue& BedMap::get(const char* key) const
{
  const Entry* e = find(key);
  if (!e || !e->value)
    throw BedException(0, "BED key '%s' not found", key ? key : "(null)");
  return *e->value;
}

const BedSeq& BedMap::getSeq(const char* key) const
{
  const Entry* e = find(key);
  if (!e || !e->value)
    return BedSeq::empty();
  return e->value->asSeq();
}

BedValuePtr cloneBed(const BedValue& value)
{
  rdr::MemOutStream out;
  BedWriter w(out);
  value.encode(w);
  BedReader r((int)out.length(), out.data());
  return decodeBed(r, nullptr, false);
}

} // namespace hosted
