#include "plat/ProductVersionInfo.h"

#include "plat/Exception.h"
#include "plat/String.h"

namespace plat {

namespace {

String texts[ProductVersionInfo::kProductInfo + 1];

} // namespace

const char* ProductVersionInfo::get(Text which)
{
  PLAT_ASSERT(which >= kDisplayVersion && which <= kProductInfo);
  return texts[which].get();
}

void ProductVersionInfo::set(Text which, const char* text)
{
  PLAT_ASSERT(which >= kDisplayVersion && which <= kProductInfo);
  if (strCmpNull(texts[which].get(), text) != 0)
    texts[which] = String(text);
}

} // namespace plat
