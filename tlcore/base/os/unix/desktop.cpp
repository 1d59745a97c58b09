#include "os/desktop.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "os/AppInfo.h"
#include "os/LaunchProcess.h"
#include "os/program.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "rdr/FileOutStream.h"

namespace os {

namespace {

plat::LogSrc vlog("Desktop");

constexpr char kXdgMime[] = "/usr/bin/xdg-mime";
constexpr char kUpdateDatabase[] = "/usr/bin/update-desktop-database";

struct Opener {
  const char* program;
  const char* extra;
};
const Opener kOpeners[] = {
    {"xdg-open", nullptr}, {"gnome-open", nullptr},    {"kfmclient", "exec"},
    {"exo-open", nullptr}, {"google-chrome", nullptr}, {"chromium-browser", nullptr},
    {"firefox", nullptr},
};

bool isRoot()
{
  return geteuid() == 0 || getuid() == 0;
}

// A string value's escapes; tabs and line ends could not stand in one line.
void appendValueEscaped(plat::DString& out, const char* text)
{
  for (const char* p = text; *p; p++) {
    switch (*p) {
    case '\\':
      out.append("\\\\");
      break;
    case '\n':
      out.append("\\n");
      break;
    case '\t':
      out.append("\\t");
      break;
    case '\r':
      out.append("\\r");
      break;
    default:
      out.append(p, 1);
    }
  }
}

// One Exec argument: quoted when it holds a reserved character, "%"
// doubled. The value escapes apply on top (appendValueEscaped).
plat::String execArgument(const char* arg)
{
  bool quote = !*arg;
  for (const char* p = arg; *p; p++) {
    unsigned char c = (unsigned char)*p;
    if (c < 0x20 || c == 0x7f || strchr(" \"'\\><~|&;$*?#()`", c))
      quote = true;
  }
  plat::DString out;
  if (quote)
    out.append("\"");
  for (const char* p = arg; *p; p++) {
    if (*p == '%')
      out.append("%");
    else if (quote && strchr("\"`$\\", *p))
      out.append("\\");
    out.append(p, 1);
  }
  if (quote)
    out.append("\"");
  return plat::String(out.get());
}

} // namespace

plat::String desktopApplicationsDir()
{
  const char* home = getenv("HOME");
  if (!home || !*home || !plat::isDir(home))
    throw plat::Exception("HOME dir not found");
  size_t len = strlen(home);
  return plat::format("%s%s.local/share/applications", home, home[len - 1] == '/' ? "" : "/");
}

plat::String desktopEntryText(const char* scheme, const char* displayName, const char* program)
{
  plat::DString name;
  // Leading blanks would be taken for the space around "=".
  if (*displayName == ' ')
    name.append("\\s");
  for (const char* p = *displayName == ' ' ? displayName + 1 : displayName; *p; p++) {
    unsigned char c = (unsigned char)*p;
    // No escape exists for the other control characters.
    if ((c < 0x20 && c != '\n' && c != '\t' && c != '\r') || c == 0x7f)
      continue;
    char one[2] = {*p, 0};
    appendValueEscaped(name, one);
  }
  plat::DString exec;
  appendValueEscaped(exec, execArgument(program).str());
  return plat::format("[Desktop Entry]\nType=Application\nName=%s\nExec=%s -uri %%u\n"
                      "MimeType=x-scheme-handler/%s;\nNoDisplay=true\n",
                      name.get(), exec.get(), scheme);
}

// --- Scheme registration -----------------------------------------------------

UrlSchemeRegistration::UrlSchemeRegistration(const char* scheme, OnDestroy onDestroy)
    : unregisterOnDestroy_(onDestroy == OnDestroy::kUnregister),
      fileName_(plat::format("%s.desktop", scheme))
{
  plat::String dir = desktopApplicationsDir();
  plat::mkDirWithParents(dir.str(), plat::DirMode::kPrivate);
  plat::String program = getProgramFile();
  if (program.isNull())
    throw plat::Exception("Error: could not find program executable");
  plat::String text = desktopEntryText(scheme, AppInfo::getDisplayName(false), program.str());
  rdr::FileOutStream out(plat::format("%s/%s", dir.str(), fileName_.str()).str());
  out.writeBytes(text.str(), (int)text.length());
  out.close();
  plat::String mime = plat::format("x-scheme-handler/%s", scheme);
  int code = runAndWait({plat::String(kXdgMime), plat::String("default"), fileName_, mime});
  if (code == 0)
    code = runAndWait({plat::String(kUpdateDatabase), dir});
  if (code != 0)
    throw plat::Exception("Registering URL scheme handler failed");
}

UrlSchemeRegistration::~UrlSchemeRegistration()
{
  if (!unregisterOnDestroy_)
    return;
  try {
    unregister();
  } catch (plat::Exception& e) {
    vlog.error("Unregistering %s: %s", fileName_.str(), e.str());
  }
}

void UrlSchemeRegistration::unregister()
{
  plat::String dir = desktopApplicationsDir();
  (void)plat::tryFileRemove(plat::format("%s/%s", dir.str(), fileName_.str()).str());
  try {
    runAndWait({plat::String(kUpdateDatabase), dir});
  } catch (plat::Exception& e) {
    vlog.status("%s: %s", kUpdateDatabase, e.str());
  }
}

// --- Opening URLs ----------------------------------------------------------------

bool openUrl(const char* url)
{
  if (isRoot() || !url || !*url || *url == '-')
    return false;
  for (const Opener& o : kOpeners) {
    plat::String path = findExecutable(o.program, true);
    if (path.isNull())
      continue;
    std::vector<plat::String> args = {path};
    if (o.extra)
      args.emplace_back(o.extra);
    args.emplace_back(url);
    try {
      launchDetached(args);
      return true;
    } catch (plat::Exception& e) {
      vlog.status("Starting %s failed: %s", path.str(), e.str());
    }
  }
  return false;
}

bool canOpenUrl()
{
  if (isRoot())
    return false;
  for (const Opener& o : kOpeners)
    if (!findExecutable(o.program, true).isNull())
      return true;
  return false;
}

} // namespace os
