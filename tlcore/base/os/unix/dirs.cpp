#include "os/dirs.h"

#include "os/AppInfo.h"
#include "os/program.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/Path.h"
#include "plat/String.h"

namespace os {

namespace {

// Plain pointers, never freed: the directories are read until exit, during
// static destruction included.
const char* systemConfigDir;
const char* userDir;
const char* profileDir;
const char* configProfileDir;
const char* configDir;
const char* programConfigFile;

const char* orEmpty(const char* s)
{
  return s ? s : "";
}

} // namespace

const char* getSystemConfigDir()
{
  return orEmpty(systemConfigDir);
}

void setSystemConfigDir(const char* dir)
{
  plat::strReplace(systemConfigDir, dir);
}

const char* getUserDir()
{
  return orEmpty(userDir);
}

void setUserDir(const char* dir)
{
  plat::strReplace(userDir, dir);
}

const char* getProfileDir()
{
  return orEmpty(profileDir);
}

void setProfileDir(const char* dir)
{
  plat::strReplace(profileDir, dir);
}

const char* getConfigProfileDir()
{
  return orEmpty(configProfileDir);
}

void setConfigProfileDir(const char* dir)
{
  plat::strReplace(configProfileDir, dir);
}

const char* getConfigDir()
{
  return orEmpty(configDir);
}

void setConfigDir(const char* dir)
{
  plat::strReplace(configDir, dir);
}

const char* getProgramConfigFile()
{
  return orEmpty(programConfigFile);
}

void setProgramConfigFile(const char* path)
{
  plat::strReplace(programConfigFile, path);
}

void getDataSearchDirs(std::vector<plat::String>& out)
{
  getDataSearchDirs(out, getProgramDir().get());
}

namespace {

plat::LogSrc vlog("DataDirs");

// The program's own directories, without those a root process must not
// trust.
void addProgramDirs(std::vector<plat::String>& out, const char* programDir);

} // namespace

void getDataSearchDirs(std::vector<plat::String>& out, const char* programDir)
{
  if (*getSystemConfigDir())
    out.emplace_back(getSystemConfigDir());
  if (!programDir || !*programDir)
    return;
  std::vector<plat::String> dirs;
  addProgramDirs(dirs, programDir);
  for (plat::String& dir : dirs) {
    plat::String why;
    if (plat::isInstallPathTrusted(dir.get(), why))
      out.push_back(std::move(dir));
    else
      vlog.status("Skipping %s as root: %s", dir.get(), why.get());
  }
}

namespace {

void addProgramDirs(std::vector<plat::String>& out, const char* programDir)
{
  out.emplace_back(programDir);
  // Before start-up has named the product only its program directory is
  // known.
  const char* pathComp = AppInfo::getPathComp(true);
  if (!*pathComp)
    return;
  plat::String share = plat::format("share/%s", pathComp);
  out.push_back(plat::joinPath(programDir, pathComp, false));
  out.push_back(plat::joinPath(programDir, share.get(), false));
  if (!plat::isNotRootDir(programDir))
    return;
  plat::String parent = plat::dirName(programDir);
  out.push_back(plat::joinPath(parent.get(), share.get(), false));
  if (!plat::isNotRootDir(parent.get()))
    return;
  plat::String grandparent = plat::dirName(parent.get());
  out.push_back(plat::joinPath(grandparent.get(), share.get(), false));
}

} // namespace

plat::String getPersistentStorePath(const char* name)
{
  if (!name)
    name = AppInfo::getAppName(true);
  if (!*getConfigDir() || !*name)
    return plat::String();
  return plat::format("%s/%s.d", getConfigDir(), name);
}

} // namespace os
