// Colours asked for by name, and ANSI colours on terminals.
//
// User-interface code never hard-codes a colour value: it names a role
// ("contentBg", "statusRed"), a colour word ("navy") or "#rrggbb". The
// answer comes from the installed system-colour provider first, then from a
// built-in table whose role colours follow the desktop's dark mode. The
// provider and the table are process-wide and unguarded: colours are looked
// up on the user-interface thread only. The terminal helpers are pure and
// safe on any thread.
#pragma once

#include <stdio.h>

namespace plat {

struct Colour {
  int r = 0;
  int g = 0;
  int b = 0;
};

inline bool operator==(const Colour& a, const Colour& b)
{
  return a.r == b.r && a.g == b.g && a.b == b.b;
}
inline bool operator!=(const Colour& a, const Colour& b)
{
  return !(a == b);
}

// The desktop's own colours and scheme.
class SysColors {
public:
  virtual ~SysColors() = default;
  // True when the provider knows the name.
  virtual bool getColor(const char* name, Colour& out) = 0;
  virtual bool isDarkMode() = 0;
};

// Knows no names; dark mode is the hidden parameter `_DarkMode`.
class SysColorsGeneric : public SysColors {
public:
  bool getColor(const char* name, Colour& out) override;
  bool isDarkMode() override;
};

// --- Named colours
// Installs the provider once per process (a second one is fatal). Borrowed:
// it must outlive every lookup.
void setSysColors(SysColors* provider);
// The provider's answer; false without one.
bool isDarkMode();
// The built-in table and "#rrggbb" only.
bool lookupColor(const char* name, Colour& out);
// The provider, then the built-in lookup.
bool findColor(const char* name, Colour& out);
Colour getColor(const char* name, Colour fallback);
// name, else fallbackName, else the zero colour.
Colour getColorWithFallback(const char* name, const char* fallbackName);

// --- Terminal colours
bool isTerminal(int fd);
// A terminal whose TERM names an xterm, "ansi" or a "color" terminal.
bool terminalSupportsColour(int fd);
// Writes "\033[<code>m" (an SGR parameter text such as "31;1" or "0").
void writeTermColour(FILE* stream, const char* code, bool flush);

} // namespace plat
