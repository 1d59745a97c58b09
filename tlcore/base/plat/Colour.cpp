#include "plat/Colour.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <map>

#include "plat/ConfigParameter.h"
#include "plat/Exception.h"
#include "plat/encodings.h"

namespace plat {

namespace {

BoolParameter darkModeParam("_DarkMode", "", false);

SysColors* sysColorsImpl = nullptr;

struct NamedRgb {
  const char* name;
  unsigned rgb;
};

// Role colours: dark and light mode.
const struct {
  const char* name;
  unsigned dark, light;
} kRoles[] = {
    {"contentBg", 0x000000, 0xffffff},    {"contentText", 0xffffff, 0x000000},
    {"buttonBg", 0x404040, 0xececec},     {"buttonText", 0xececec, 0x404040},
    {"selectedBg", 0x41648a, 0xd1e8ff},   {"selectedBd", 0x0e5ccd, 0x66a7e8},
    {"selectedText", 0xffffff, 0xffffff}, {"inactiveBg", 0x323232, 0xf0f0f0},
    {"inactiveBd", 0x555555, 0xdedede},   {"helpBg", 0x443322, 0xffffd3},
    {"helpText", 0xffffff, 0x000000},
};

const NamedRgb kFixedRoles[] = {
    {"disabledText", 0x808080},     {"statusGreen", 0x048c00}, {"statusYellow", 0xe6a000},
    {"statusRed", 0xc90000},        {"statusText", 0xffffff},  {"customBigBtnBg", 0x1976d2},
    {"customBigBtnText", 0xffffff},
};

const NamedRgb kWords[] = {
    {"white", 0xffffff},  {"silver", 0xc0c0c0}, {"gray", 0x808080},    {"black", 0x000000},
    {"red", 0xff0000},    {"maroon", 0x800000}, {"yellow", 0xffff00},  {"olive", 0x808000},
    {"lime", 0x00ff00},   {"green", 0x008000},  {"aqua", 0x00ffff},    {"teal", 0x008080},
    {"blue", 0x0000ff},   {"navy", 0x000080},   {"fuchsia", 0xff00ff}, {"purple", 0x800080},
    {"orange", 0xffa500},
};

struct CStrLess {
  bool operator()(const char* a, const char* b) const { return strcmp(a, b) < 0; }
};

struct ColourTable {
  std::map<const char*, unsigned, CStrLess> map;
  bool dark = false;

  void rebuild(bool darkMode)
  {
    map.clear();
    dark = darkMode;
    // emplace never overwrites, so an earlier group wins a shared name.
    for (const auto& r : kRoles)
      map.emplace(r.name, darkMode ? r.dark : r.light);
    for (const NamedRgb& c : kFixedRoles)
      map.emplace(c.name, c.rgb);
    for (const NamedRgb& c : kWords)
      map.emplace(c.name, c.rgb);
  }
};

ColourTable& table()
{
  static ColourTable t;
  return t;
}

bool parseHashRgb(const char* name, Colour& out)
{
  if (name[0] != '#' || strlen(name) != 7)
    return false;
  int v[6];
  for (int i = 0; i < 6; i++)
    if ((v[i] = hexValue(name[1 + i])) < 0)
      return false;
  out.r = v[0] * 16 + v[1];
  out.g = v[2] * 16 + v[3];
  out.b = v[4] * 16 + v[5];
  return true;
}

} // namespace

bool SysColorsGeneric::getColor(const char*, Colour&)
{
  return false;
}

bool SysColorsGeneric::isDarkMode()
{
  return darkModeParam.getValue();
}

void setSysColors(SysColors* provider)
{
  PLAT_ASSERT(!sysColorsImpl);
  sysColorsImpl = provider;
}

bool isDarkMode()
{
  return sysColorsImpl ? sysColorsImpl->isDarkMode() : false;
}

bool lookupColor(const char* name, Colour& out)
{
  if (!name)
    return false;
  if (parseHashRgb(name, out))
    return true;
  ColourTable& t = table();
  bool dark = isDarkMode();
  if (t.map.empty() || t.dark != dark)
    t.rebuild(dark);
  auto it = t.map.find(name);
  if (it == t.map.end())
    return false;
  out.r = (it->second >> 16) & 0xff;
  out.g = (it->second >> 8) & 0xff;
  out.b = it->second & 0xff;
  return true;
}

bool findColor(const char* name, Colour& out)
{
  if (sysColorsImpl && name && sysColorsImpl->getColor(name, out))
    return true;
  return lookupColor(name, out);
}

Colour getColor(const char* name, Colour fallback)
{
  Colour c;
  return findColor(name, c) ? c : fallback;
}

Colour getColorWithFallback(const char* name, const char* fallbackName)
{
  Colour c;
  if (findColor(name, c) || findColor(fallbackName, c))
    return c;
  return Colour();
}

bool isTerminal(int fd)
{
  return isatty(fd) != 0;
}

bool terminalSupportsColour(int fd)
{
  if (!isatty(fd))
    return false;
  const char* term = getenv("TERM");
  return term && (strstr(term, "xterm") || strstr(term, "ansi") || strstr(term, "color"));
}

void writeTermColour(FILE* stream, const char* code, bool flush)
{
  fprintf(stream, "\033[%sm", code);
  if (flush)
    fflush(stream);
}

} // namespace plat
