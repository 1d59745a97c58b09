// The process's record of finished HTTP exchanges in the HTTP Archive format
// (HAR 1.2), which browsers' developer tools open: one page per client that
// recorded anything, one entry per successful exchange, bodies only by size.
//
// The document is its own root object ("log" with "version", "creator",
// "pages" and "entries"). One instance per process, made on first use and
// kept until exit; the HTTP client appends to it and writes it out whole.
// Loop thread only.
#pragma once

#include "plat/Json.h"
#include "plat/String.h"
#include "plat/Time.h"

namespace http {

class HttpRequest;

class HarDocument : public plat::JsonObject {
public:
  static HarDocument* instance();

  // Appends a page for a client made at startTime; returns its id
  // ("client_%d").
  plat::String addPage(plat::Time startTime);
  // Appends an entry built from a complete request.
  void addEntry(const char* pageId, HttpRequest* request);

  // "%Y-%m-%dT%H:%M:%S.mmm+00:00" in UTC.
  static plat::String formatTime(plat::Time time);

private:
  HarDocument();

  plat::JsonPtr<plat::JsonArray> pages_;
  plat::JsonPtr<plat::JsonArray> entries_;
};

} // namespace http
