#include "http/UserAgent.h"

#include <string.h>
#include <time.h>

#include "loc/Locale.h"
#include "os/AppInfo.h"
#include "os/host.h"
#include "plat/DString.h"
#include "plat/Mutex.h"
#include "plat/Time.h"

namespace http {

namespace {

// Locale names longer than this are not names a server could use.
constexpr int kMaxLocaleName = 64;

struct UaTexts {
  plat::Mutex mutex;
  plat::String version, prefix, suffix;
};

UaTexts& texts()
{
  static UaTexts t;
  return t;
}

void setText(plat::String UaTexts::*field, const char* text)
{
  UaTexts& t = texts();
  plat::MutexLock lock(t.mutex);
  t.*field = text ? plat::String(text) : plat::String();
}

} // namespace

void setUserAgentVersion(const char* version)
{
  setText(&UaTexts::version, version);
}
void setUserAgentPrefix(const char* prefix)
{
  setText(&UaTexts::prefix, prefix);
}
void setUserAgentSuffix(const char* suffix)
{
  setText(&UaTexts::suffix, suffix);
}

plat::String userAgent()
{
  plat::String version, prefix, suffix;
  {
    UaTexts& t = texts();
    plat::MutexLock lock(t.mutex);
    version = t.version;
    prefix = t.prefix;
    suffix = t.suffix;
  }

  plat::DString ua;
  ua.append(os::AppInfo::getAppName(false));
  if (!version.isNull()) {
    // A development build's "d" suffix and any build words are left out.
    ua.append("/").append(version.get(), (int)strcspn(version.get(), " d"));
  }
  ua.append(" (");
  if (!prefix.isNull())
    ua.append(prefix.get()).append("; ");
  plat::String distribution;
  os::getOsDescription(distribution);
  if (!distribution.isNull())
    ua.append(distribution.get()).append("; ");
  plat::String osVersion;
  os::getOsVersion(osVersion);
  char arch[32];
  os::getArchName(arch);
  ua.append(osVersion.str()).append("; ").append(arch);

  plat::String locales = loc::getLocales();
  const char* list = locales.str();
  int len = (int)strcspn(list, ":");
  ua.append("; ");
  if (len == 0 || len > kMaxLocaleName)
    ua.append("en_US");
  else
    ua.append(list, len);
  ua.append(")");
  if (!suffix.isNull())
    ua.append(" ").append(suffix.get());
  return ua.takeString();
}

plat::String formatHttpDate(int64_t time)
{
  // strftime's %a and %b follow the thread's locale; HTTP wants English.
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm tm;
  plat::timeToTmUtc(&tm, time);
  return plat::DString::format("%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7],
                               tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour,
                               tm.tm_min, tm.tm_sec)
      .takeString();
}

} // namespace http
