#include "tlutil/ConfigStore.h"

#include "os/AppInfo.h"
#include "os/dirs.h"
#include "os/program.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Log.h"

namespace tlutil {

namespace {

ConfigStore* current;

plat::LogSrc vlog("ConfigStore");

} // namespace

// --- ConfigStore

ConfigStore::~ConfigStore()
{
  if (current == this)
    current = nullptr;
}

ConfigStore* ConfigStore::get()
{
  return current;
}

void ConfigStore::registerStore()
{
  current = this;
}

// --- ConfigStoreFile

ConfigStoreFile::ConfigStoreFile() : ConfigStoreFile(os::getProgramDir().get())
{
}

ConfigStoreFile::ConfigStoreFile(const char* programDir)
{
  registerStore();
  const char* sys = os::getSystemConfigDir();
  if (programDir && *programDir) {
    plat::String install = plat::format("%s/%s", programDir, os::AppInfo::getPathComp(false));
    installDir_ = plat::format("%s/", install.get());
    addDir(plat::kPriorityPreference, plat::format("%s/config.d", install.get()).get(), true);
    addDir(plat::kPriorityPolicy, plat::format("%s/policy.d", install.get()).get(), false);
  }
  // An unset directory is left out rather than read from "/config.d".
  if (*sys)
    addDir(plat::kPriorityPreference, plat::format("%s/config.d", sys).get(), true);
  if (*os::getConfigDir())
    addDir(plat::kPriorityPreference, os::getConfigDir(), false);
  if (*sys)
    addDir(plat::kPriorityPolicy, plat::format("%s/policy.d", sys).get(), false);
}

ConfigStoreFile::~ConfigStoreFile() = default;

void ConfigStoreFile::addDir(int level, const char* dir, bool withCustom)
{
  std::vector<plat::String>& list = files_[level];
  list.push_back(plat::format("%s/common", dir));
  if (withCustom)
    list.push_back(plat::format("%s/common.custom", dir));
  list.push_back(plat::format("%s/%s", dir, os::AppInfo::getAppName(false)));
}

void ConfigStoreFile::load(int level, plat::Configuration* cfg)
{
  plat::Configuration& target = cfg ? *cfg : plat::Configuration::global();
  auto files = files_.find(level);
  if (files == files_.end())
    return;
  for (const plat::String& path : files->second) {
    if (!isTrusted(path.get()))
      continue;
    try {
      plat::readConfigFileIfExists(target, path.get(), level);
    } catch (plat::Exception& e) {
      throw plat::Exception(0, "Error reading %s: %s", path.get(), e.str());
    }
  }
}

bool ConfigStoreFile::isTrusted(const char* path) const
{
  if (installDir_.isNull() || !plat::strStartsWith(path, installDir_.get()))
    return true;
  plat::String why;
  if (plat::isInstallPathTrusted(path, why))
    return true;
  vlog.status("Skipping %s as root: %s", path, why.get());
  return false;
}

void ConfigStoreFile::loadAll(bool includePolicy, plat::Configuration* cfg)
{
  load(5, cfg);
  load(plat::kPriorityPreference, cfg);
  if (includePolicy)
    load(plat::kPriorityPolicy, cfg);
}

const char* ConfigStoreFile::userFile() const
{
  const char* path = os::getProgramConfigFile();
  if (!*path)
    throw plat::Exception("The user's configuration file is not set");
  return path;
}

void ConfigStoreFile::saveChanges(plat::Configuration& cur, plat::Configuration& reference)
{
  plat::saveConfigChanges(cur, userFile(), reference, 0);
}

void ConfigStoreFile::saveParam(plat::ConfigParameter& param)
{
  plat::updateConfigFile(userFile(), param.getName(), param.getValueStr().get(), 0);
}

void ConfigStoreFile::removeParam(plat::ConfigParameter& param)
{
  plat::removeConfigValue(userFile(), param.getName(), 0);
}

bool ConfigStoreFile::userFileExists()
{
  const char* path = os::getProgramConfigFile();
  return *path && plat::fileExists(path);
}

// --- Writers

plat::String getConfigFilePath(const char* name)
{
  return plat::joinPath(os::getConfigDir(), name, false);
}

void writeConfigValues(const char* path, const plat::CaseInsensitiveStringMap& values)
{
  plat::CaseInsensitiveStringMap file;
  try {
    plat::readConfigFileToMap(path, file, nullptr);
  } catch (plat::Exception& e) {
    if (!plat::isMissingFileError(e))
      throw;
  }
  for (const auto& entry : values)
    file[entry.first] = entry.second;
  plat::writeConfigFile(path, file, 0);
}

void writeConfigValue(const char* path, const char* name, const char* value)
{
  plat::updateConfigFile(path, name, value, 0);
}

} // namespace tlutil
