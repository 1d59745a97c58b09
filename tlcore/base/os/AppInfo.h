// The process's identity: application name, company, path component, group
// and the name shown to the user.
//
// Product initialisation fills it once on the main thread before any other
// thread starts; afterwards it is read-only. Every text is a process-wide
// owned copy that lives until exit. getDisplayName's result lives in one
// shared buffer that the next call overwrites, so it is for one thread.
#pragma once

namespace os {

class AppInfo {
public:
  // Translates a display key into the current language. Localisation
  // registers it at start-up; until then a key is shown as it is.
  using Translator = const char* (*)(const char* key);
  static void setTranslator(Translator translator);

  // Setting. Each text is copied only when it differs from the stored one.
  static void set(const char* app, const char* company, const char* pathComp,
                  const char* displayKey, const char* displayName);
  // A null name is a fatal assertion.
  static void setAppName(const char* name);
  static void setGroup(const char* name);
  // The literal name; it wins over a display key set before.
  static void setDisplayName(const char* name);

  // Reading. An unset value is "" with emptyIfUnset, else a fatal assertion.
  static const char* getAppName(bool emptyIfUnset);
  static const char* getGroup(bool emptyIfUnset);
  static const char* getCompanyName(bool emptyIfUnset);
  static const char* getPathComp(bool emptyIfUnset);
  // The translated display key, else the display name, else the app name.
  static const char* getRawDisplayName(bool emptyIfUnset);
  // The same without any registered-trademark sign.
  static const char* getDisplayName(bool emptyIfUnset);

  static bool isAppNameSet();
  // App, company and path component are all set.
  static bool isComplete();

  AppInfo() = delete;
};

} // namespace os
