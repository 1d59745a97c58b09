#include "os/host.h"

#include <ctype.h>
#include <errno.h>
#include <execinfo.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <string>

#include "os/DirEnum.h"
#include "os/shellAssignment.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "rdr/InStream.h"

namespace os {

namespace {

const char* const kDistributions[] = {
    "SuSE",     "debian",    "fedora", "redhat",      "centos",     "mandrake", "mandriva", "rocks",
    "slackware", "yellowdog", "gentoo", "UnitedLinux", "turbolinux", "arch",     "mageia",
};

plat::String osFilesRoot;

plat::String etcPath(const char* name)
{
  return plat::format("%s/etc%s%s", osFilesRoot.str(), name ? "/" : "", name ? name : "");
}

// Calls fn(name, value) for each assignment line of the file until it
// returns true; false when the file cannot be read. Lines as
// rdr::InStream::readLine gives them (every '\r' dropped, a last line
// without a line feed counted, one longer than its limit failing the file),
// read without exceptions: these files are read at every start.
template <typename Fn> bool forEachAssignment(const char* path, Fn fn)
{
  FILE* f = fopen(path, "re");
  if (!f)
    return false;
  std::string line;
  char buf[4096];
  bool ok = true, stopped = false;
  auto finishLine = [&] {
    line.push_back(0);
    const char* value = parseShellAssignment(&line[0]);
    stopped = value && fn(line.c_str(), value);
    line.clear();
  };
  while (ok && !stopped) {
    size_t n = fread(buf, 1, sizeof(buf), f);
    if (n == 0) {
      ok = !ferror(f);
      if (ok && !line.empty())
        finishLine();
      break;
    }
    for (size_t i = 0; i < n && ok && !stopped; i++) {
      if (buf[i] == '\n')
        finishLine();
      else if (buf[i] != '\r')
        line.push_back(buf[i]);
      ok = line.size() <= (size_t)rdr::InStream::kDefaultMaxLine;
    }
  }
  fclose(f);
  return ok;
}

bool isBlank(char c)
{
  return c == ' ' || c == '\t';
}

} // namespace

#ifdef TL_TEST_HOOKS
void setOsFilesRootForTest(const char* root)
{
  osFilesRoot = plat::String(root);
}
#endif

plat::String getShortHostName()
{
  char name[257];
  if (gethostname(name, sizeof(name)) != 0)
    name[0] = 0;
  name[sizeof(name) - 1] = 0;
  if (char* dot = strchr(name, '.'))
    *dot = 0;
  return plat::String(name);
}

__attribute__((noinline)) void getBacktrace(std::vector<plat::String>& out)
{
  void* frames[62];
  int n = backtrace(frames, 62);
  if (n < 2)
    return;
  // Our own frame is the first; an instrumented build may put an interceptor
  // frame before it, so start at the frame of our caller when it is found.
  int first = 1;
  void* caller = __builtin_extract_return_addr(__builtin_return_address(0));
  for (int i = 1; i < n && i < 4; i++) {
    if (frames[i] == caller) {
      first = i;
      break;
    }
  }
  char** symbols = backtrace_symbols(frames, n);
  for (int i = first; i < n; i++)
    out.push_back(plat::format("%2d %s", i - first + 1, symbols ? symbols[i] : "?"));
  free(symbols);
}

void getOsVersion(plat::String& out)
{
  struct utsname u;
  if (uname(&u) != 0) {
    out = plat::String(plat::SystemException("uname", errno).str());
    return;
  }
  if (char* dash = strchr(u.release, '-'))
    *dash = 0;
  out = plat::format("Linux %s", u.release);
}

void getArchName(char (&out)[32])
{
  struct utsname u;
  if (uname(&u) != 0) {
    plat::strFormat(out, "%s", plat::SystemException("uname", errno).str());
    return;
  }
#if defined(__x86_64__)
  plat::strFormat(out, "amd64");
#elif defined(__aarch64__)
  plat::strFormat(out, "arm64");
#elif defined(__i386__)
  plat::strFormat(out, "i386");
#else
  plat::strFormat(out, "%s", u.machine);
#endif
}

bool readReleaseKeys(plat::String& out, const char* file, const char* nameKey,
                     const char* versionKey)
{
  plat::String name, version;
  bool ok = forEachAssignment(file, [&](const char* key, const char* value) {
    if (strcmp(key, nameKey) == 0)
      name = plat::String(value);
    else if (strcmp(key, versionKey) == 0)
      version = plat::String(value);
    return false;
  });
  if (!ok || name.isNull() || version.isNull())
    return false;
  out = plat::format("%s %s", name.get(), version.get());
  return true;
}

bool readDistroReleaseFile(plat::String& out, const char* path, const char* distro)
{
  FILE* f = fopen(path, "re");
  if (!f)
    return false;
  char line[1025];
  bool got = fgets(line, sizeof(line), f) != nullptr;
  bool failed = ferror(f);
  fclose(f);
  if (!got || failed)
    return false;
  line[strcspn(line, "\r\n")] = 0;

  plat::DString words;
  bool sawRelease = false;
  bool stoppedAtParen = false;
  char* copy = plat::strDup(line);
  char* cursor = copy;
  while (char* word = plat::strTokAny(&cursor, " \t", nullptr, true)) {
    if (!*word)
      continue;
    if (word[0] == '(') {
      stoppedAtParen = true;
      break;
    }
    if (strcmp(word, "release") == 0) {
      sawRelease = true;
      continue;
    }
    if (words.length() > 0)
      words.append(" ");
    words.append(word);
    if (sawRelease || isdigit((unsigned char)word[0]))
      break;
  }
  delete[] copy;

  if ((sawRelease || stoppedAtParen) && words.length() > 0) {
    out = words.takeString();
    return true;
  }
  if (distro && line[0] && !isBlank(line[0])) {
    size_t firstWord = strcspn(line, " \t");
    line[firstWord] = 0;
    out = plat::format("%s %s", distro, line);
    out.data()[0] = toupper((unsigned char)out.data()[0]);
    return true;
  }
  return false;
}

void getOsDescription(plat::String& out)
{
  out = plat::String();
  if (readReleaseKeys(out, etcPath("os-release").get(), "NAME", "VERSION_ID"))
    return;
  if (readReleaseKeys(out, etcPath("lsb-release").get(), "DISTRIB_ID", "DISTRIB_RELEASE"))
    return;
  try {
    plat::String etc = etcPath(nullptr);
    DirEnum dir(etc.get());
    while (const char* name = dir.next()) {
      bool isRelease = true;
      const char* keyword = strstr(name, "release");
      if (!keyword) {
        isRelease = false;
        keyword = strstr(name, "version");
      }
      if (!keyword || keyword == name || (keyword[-1] != '_' && keyword[-1] != '-'))
        continue;
      for (const char* distro : kDistributions) {
        if (!plat::strStartsWith(name, distro))
          continue;
        if (readDistroReleaseFile(out, dir.getPath(), isRelease ? nullptr : distro))
          return;
        break;
      }
    }
  } catch (plat::Exception&) {
  }
}

bool isDebianLike()
{
  bool found = false;
  forEachAssignment(etcPath("os-release").get(), [&](const char* key, const char* value) {
    if ((strcmp(key, "ID") == 0 || strcmp(key, "ID_LIKE") == 0) &&
        plat::strCaseStr(value, "debian"))
      found = true;
    return found;
  });
  return found;
}

} // namespace os
