// Small free functions that the HTTP layer's users share.
#pragma once

#include "plat/ConfigParameter.h"
#include "plat/DString.h"
#include "plat/Time.h"

namespace http {

// An HTTP date in RFC 1123, RFC 850 or asctime form, written exactly as that
// form writes it (weekday, padding and "GMT" included); out is set only on
// success.
bool parseDate(plat::Time* out, const char* text);
// The same, throwing "invalid HTTP date (%s)" with the text.
plat::Time parseDateOrThrow(const char* text);

// The standard reason phrase of an HTTP status ("Service Unavailable" for
// 503), "Unknown Error" for any code without one. Static text.
const char* getReasonPhrase(int status);

// The base address of the maker's web site; product initialisation gives
// its default, configuration may override it.
extern plat::StringParameter productUri;

// `_ProductUri` as it is now, followed by path (nothing inserted between).
plat::DString makeProductUrl(const char* path);
plat::DString makeProductUrlf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Appends percent-encoded "key=value" parameters to a URL: "?" before the
// first, "&" between them. A null value adds nothing.
class QueryBuilder {
public:
  explicit QueryBuilder(const char* baseUrl) { text_.append(baseUrl); }

  void add(const char* key, const char* value);
  const char* get() const { return text_.get(); }

private:
  plat::DString text_;
  bool added_ = false;
  bool needsQuestionMark_ = true;
};

} // namespace http
