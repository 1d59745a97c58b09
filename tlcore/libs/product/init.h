// Product initialisation: the first thing every mode of the program does
// after recording its version. It gives the process its identity, repairs
// HOME for root, works out, exports and creates the per-user directories,
// points the translation store at its string files, builds the version and
// product texts (kept current when `Locale` changes), sets the logging
// defaults and, when asked, loads the configuration files.
//
// Main thread only, before the application loop exists and before any
// other thread starts. Repeating a step is harmless: a field is replaced
// only when it changes, and the version updater and the configuration store
// are made once per process and kept until exit.
#pragma once

namespace plat {
class Configuration;
}

namespace product {

enum InitFlags : unsigned {
  kInitDefault = 0,
  kEnableFileLog = 1, // open the log file now
  kLoadConfig = 2,    // read the configuration files
};

// initAppInfo, initProfileDirs, initTranslationDirs,
// installVersionInfoUpdater(null), initLogging(logSetting, null, null, false);
// then `_ProductUri` defaults to the web site, and the flags' steps follow.
// programPath may be null (no argv[0]).
void init(const char* programPath, const char* appName, const char* displayKey,
          const char* logSetting, unsigned flags);

// Identity (the application name, else the executable's name without
// ".exe"), the translation store, HOME (from the account database when
// unset or when running as root) and the system configuration directory.
// Throws plat::Exception "Error: could not find program executable", and
// the account lookup's error.
void initAppInfo(const char* programPath, const char* appName, const char* displayKey);
// "$HOME/.zarn", the profile chosen by ZARN_PROFILE and the configuration
// profile by ZARN_CONFIG_PROFILE (names made safe as one path component),
// "config.d" and the program's configuration file; exports
// ZARN_PROFILE_DIR and creates the directories private (mode 0700).
void initProfileDirs();
// The user directory, the system configuration directory and the
// program's own directory with the path component, in that order.
void initTranslationDirs();
// Version defaults ("0.1"; the dotted version copies the display version)
// and, once, the updater that rebuilds the texts now and on every change of
// `Locale`. version, when given, is the documentation version.
void installVersionInfoUpdater(const char* version);
// Defaults of `LogDir` (logDir, else "$ZARN_PROFILE_DIR", for root
// "/var/log"), `LogFile` (logFile, else "<app>.log") and `Log` (logSetting,
// else "*:stderr:10"); the standard-error and file destinations.
void initLogging(const char* logSetting, const char* logDir, const char* logFile, bool openNow);
// The process's configuration-file store, made once, loaded at priorities
// 5, 10 and 30 into cfg (null: the global configuration).
void loadConfigStore(plat::Configuration* cfg);
// The application group of the identity.
void setGroup(const char* name);

// The documentation address the texts point at.
const char* getDocumentationUri();

} // namespace product
