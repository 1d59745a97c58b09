// The process-wide configuration store: which configuration files are read
// at which priority, and where the user's own changed values are written.
//
// The store registers itself as the process's store on construction and
// unregisters when destroyed; start-up makes one on first use and keeps it
// until exit. The file list is fixed at construction from the directories
// set at start-up. Main thread only.
#pragma once

#include <map>
#include <vector>

#include "plat/Configuration.h"
#include "plat/String.h"
#include "tlutil/ConfigFile.h"

namespace tlutil {

class ConfigStore {
public:
  virtual ~ConfigStore();

  // Levels 5 and 10, then 30 when includePolicy; cfg null means Global.
  virtual void loadAll(bool includePolicy, plat::Configuration* cfg) = 0;
  // The files of one level at that priority.
  virtual void load(int level, plat::Configuration* cfg) = 0;
  // Writes what differs between current and reference to the user's file.
  virtual void saveChanges(plat::Configuration& current, plat::Configuration& reference) = 0;
  virtual void saveParam(plat::ConfigParameter& param) = 0;
  virtual void removeParam(plat::ConfigParameter& param) = 0;
  virtual bool userFileExists() = 0;

  // The registered store; null when there is none.
  static ConfigStore* get();

protected:
  ConfigStore() = default;
  ConfigStore(const ConfigStore&) = delete;
  ConfigStore& operator=(const ConfigStore&) = delete;
  // Makes this the process's store.
  void registerStore();
};

// Level 10 (preference) reads, in this order, so that a later file wins:
// the installation's "<program dir>/<path component>/config.d", the
// system's "<system config dir>/config.d" and the user's configuration
// directory; level 30 (policy) the installation's, then the system's
// "policy.d". Each directory gives "common", "common.custom" (not in the
// user's or the policy directories) and the application's own file. As
// root, the installation's files are read only when they and every
// directory above them belong to root and no one else can write them.
class ConfigStoreFile : public ConfigStore {
public:
  // For the running program's directory (os::getProgramDir).
  ConfigStoreFile();
  // For an installation in programDir; null when it is unknown, which
  // leaves the installation's directories out.
  explicit ConfigStoreFile(const char* programDir);
  ~ConfigStoreFile() override;

  void loadAll(bool includePolicy, plat::Configuration* cfg) override;
  // A missing file or directory is skipped; any other failure throws
  // plat::Exception "Error reading %s: %s".
  void load(int level, plat::Configuration* cfg) override;
  void saveChanges(plat::Configuration& current, plat::Configuration& reference) override;
  void saveParam(plat::ConfigParameter& param) override;
  void removeParam(plat::ConfigParameter& param) override;
  bool userFileExists() override;

  const std::map<int, std::vector<plat::String>>& getFiles() const { return files_; }

private:
  void addDir(int level, const char* dir, bool withCustom);
  // False, with a log line, for a file of the installation's directories
  // that a root process must not trust (plat::checkTrustedAsRoot).
  bool isTrusted(const char* path) const;
  // Throws when start-up has not set the user's file.
  const char* userFile() const;

  std::map<int, std::vector<plat::String>> files_;
  // "<program dir>/<path component>/", or null.
  plat::String installDir_;
};

// --- Writers of the setup engine
// The per-user configuration directory joined with name.
plat::String getConfigFilePath(const char* name);
// All values in one read-modify-write of path and one commit: either every
// value is stored or, on any failure, the file is left as it was.
void writeConfigValues(const char* path, const plat::CaseInsensitiveStringMap& values);
void writeConfigValue(const char* path, const char* name, const char* value);

} // namespace tlutil
