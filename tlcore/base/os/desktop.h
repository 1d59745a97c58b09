// Desktop integration after the freedesktop.org conventions: opening a web
// address in the desktop's URL opener or a browser, and making this
// executable the handler of a URI scheme (a desktop entry in HOME's
// ".local/share/applications", the "x-scheme-handler" MIME default set with
// xdg-mime, the desktop database refreshed).
//
// Loop thread (the tools are run and waited for); nothing is locked.
#pragma once

#include "plat/String.h"

namespace os {

// The scheme's registration, held for as long as the scheme is needed.
class UrlSchemeRegistration {
public:
  enum class OnDestroy { kKeep, kUnregister };

  // Writes "<scheme>.desktop" for this executable and runs
  // "/usr/bin/xdg-mime" default and "/usr/bin/update-desktop-database".
  // Throws plat::Exception "HOME dir not found" (HOME unset or not a
  // directory), "Registering URL scheme handler failed" (a tool failed; the
  // file stays), and the errors of writing the file.
  UrlSchemeRegistration(const char* scheme, OnDestroy onDestroy);
  // Unregisters when made with kUnregister; throws nothing.
  ~UrlSchemeRegistration();
  UrlSchemeRegistration(const UrlSchemeRegistration&) = delete;
  UrlSchemeRegistration& operator=(const UrlSchemeRegistration&) = delete;

  // Removes the file and refreshes the database; the MIME default stays.
  // Throws "HOME dir not found".
  void unregister();

private:
  bool unregisterOnDestroy_;
  plat::String fileName_;
};

// HOME's applications directory; throws "HOME dir not found".
plat::String desktopApplicationsDir();

// The desktop entry that starts program with "-uri" and the URI for the
// scheme, with Name and Exec escaped as desktop entries need; plain values
// appear unchanged.
plat::String desktopEntryText(const char* scheme, const char* displayName, const char* program);

// Starts the first URL opener or browser found on PATH, detached, with the
// URL as its last argument; true when one started. False for root (real or
// effective id 0), and for an empty URL or one beginning with "-", which an
// opener would take for an option.
bool openUrl(const char* url);
// Whether openUrl would try an opener.
bool canOpenUrl();

} // namespace os
