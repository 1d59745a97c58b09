#include "os/AppInfo.h"

#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/String.h"

namespace os {

namespace {

// Plain pointers, never freed: the identity is read until exit, during
// static destruction included.
const char* app;
const char* company;
const char* pathComp;
const char* group;
const char* displayKey;
const char* displayName;
AppInfo::Translator translator;

plat::DString& displayNameCache()
{
  static plat::DString* cache = new plat::DString;
  return *cache;
}

} // namespace

void AppInfo::setTranslator(Translator t)
{
  translator = t;
}

void AppInfo::set(const char* appName, const char* companyName, const char* comp,
                  const char* key, const char* name)
{
  setAppName(appName);
  plat::strReplace(company, companyName);
  plat::strReplace(pathComp, comp);
  plat::strReplace(displayKey, key);
  plat::strReplace(displayName, name);
}

void AppInfo::setAppName(const char* name)
{
  PLAT_ASSERT(name);
  plat::strReplace(app, name);
}

void AppInfo::setGroup(const char* name)
{
  PLAT_ASSERT(name);
  plat::strReplace(group, name);
}

void AppInfo::setDisplayName(const char* name)
{
  plat::strReplace(displayName, name);
  plat::strReplace(displayKey, nullptr);
}

const char* AppInfo::getAppName(bool emptyIfUnset)
{
  PLAT_ASSERT(emptyIfUnset || app);
  return app ? app : "";
}

const char* AppInfo::getGroup(bool emptyIfUnset)
{
  PLAT_ASSERT(emptyIfUnset || group);
  return group ? group : "";
}

const char* AppInfo::getCompanyName(bool emptyIfUnset)
{
  PLAT_ASSERT(emptyIfUnset || company);
  return company ? company : "";
}

const char* AppInfo::getPathComp(bool emptyIfUnset)
{
  PLAT_ASSERT(emptyIfUnset || pathComp);
  return pathComp ? pathComp : "";
}

const char* AppInfo::getRawDisplayName(bool emptyIfUnset)
{
  if (displayKey)
    return translator ? translator(displayKey) : displayKey;
  if (displayName)
    return displayName;
  return getAppName(emptyIfUnset);
}

const char* AppInfo::getDisplayName(bool emptyIfUnset)
{
  plat::DString& cache = displayNameCache();
  cache.clear();
  cache.appendReplacing(getRawDisplayName(emptyIfUnset), "\xc2\xae", nullptr);
  return cache.get();
}

bool AppInfo::isAppNameSet()
{
  return app != nullptr;
}

bool AppInfo::isComplete()
{
  return app && company && pathComp;
}

} // namespace os
