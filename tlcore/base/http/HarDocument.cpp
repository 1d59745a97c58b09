#include "http/HarDocument.h"

#include <limits.h>
#include <time.h>

#include <algorithm>
#include <utility>

#include "http/HttpClient.h"
#include "http/HttpUtil.h"
#include "os/AppInfo.h"
#include "plat/DString.h"
#include "plat/ProductVersionInfo.h"

namespace http {

namespace {

using plat::JsonArray;
using plat::JsonNumber;
using plat::JsonObject;
using plat::JsonString;

// Milliseconds between two tick counts, truncated, within 32 bits.
int64_t millis(int64_t from, int64_t to)
{
  int64_t ms = (to - from) / plat::kTicksPerMilli;
  return std::max<int64_t>(INT_MIN, std::min<int64_t>(INT_MAX, ms));
}

// A new value in a holder of its own.
template <class T, class... Args> plat::JsonPtr<T> make(Args&&... args)
{
  return plat::JsonPtr<T>(new T(std::forward<Args>(args)...));
}

void setText(const plat::JsonPtr<JsonObject>& o, const char* key, const char* text)
{
  o->set(key, make<JsonString>(text ? text : ""));
}

void setNumber(const plat::JsonPtr<JsonObject>& o, const char* key, int64_t n)
{
  o->set(key, make<JsonNumber>(n));
}

// A new object, already set as parent's key.
plat::JsonPtr<JsonObject> addObject(JsonObject& parent, const char* key)
{
  plat::JsonPtr<JsonObject> o = make<JsonObject>();
  parent.set(key, o);
  return o;
}

} // namespace

HarDocument* HarDocument::instance()
{
  // Kept until exit: the file always holds every exchange of the process.
  static HarDocument* document = new HarDocument;
  return document;
}

HarDocument::HarDocument() : pages_(make<JsonArray>()), entries_(make<JsonArray>())
{
  plat::JsonPtr<JsonObject> log = addObject(*this, "log");
  setText(log, "version", "1.2");
  plat::JsonPtr<JsonObject> creator = addObject(*log, "creator");
  setText(creator, "name", os::AppInfo::getDisplayName(false));
  setText(creator, "version", plat::ProductVersionInfo::displayVersion());
  log->set("pages", pages_);
  log->set("entries", entries_);
}

plat::String HarDocument::formatTime(plat::Time time)
{
  struct tm tm;
  plat::timeToTmUtc(&tm, time);
  plat::DString text;
  plat::formatTmIso(text, tm, time, true);
  text.append("+00:00");
  return text.takeString();
}

plat::String HarDocument::addPage(plat::Time startTime)
{
  int number = pages_->size();
  plat::DString id, title;
  id.appendf("client_%d", number);
  title.appendf("%s, client %d", os::AppInfo::getDisplayName(false), number);
  plat::JsonPtr<JsonObject> page = make<JsonObject>();
  setText(page, "startedDateTime", formatTime(startTime).str());
  setText(page, "id", id.get());
  setText(page, "title", title.get());
  plat::JsonPtr<JsonObject> timings = addObject(*page, "pageTimings");
  setNumber(timings, "onContentLoad", -1);
  setNumber(timings, "onLoad", -1);
  pages_->append(page);
  return id.takeString();
}

void HarDocument::addEntry(const char* pageId, HttpRequest* request)
{
  int64_t start = request->getStartTime();
  int64_t connect = request->getConnectTime();
  int64_t send = request->getSendTime();
  int64_t end = request->getEndTime();
  int64_t blocked = millis(start, connect != -1 ? connect : send);
  int64_t connectMs = connect != -1 ? millis(connect, send) : -1;
  int64_t wait = millis(send, end);
  plat::Time started = plat::getTime() - (plat::getMonoTime() - start);

  plat::JsonPtr<JsonObject> entry = make<JsonObject>();
  setText(entry, "startedDateTime", formatTime(started).str());
  setText(entry, "pageref", pageId);
  setNumber(entry, "time", blocked + (connectMs == -1 ? 0 : connectMs) + wait);

  plat::JsonPtr<JsonObject> req = addObject(*entry, "request");
  setText(req, "method", request->getMethod());
  setText(req, "url", request->getUrl());
  setText(req, "httpVersion", "HTTP/1.1");
  req->set("cookies", make<JsonArray>());
  req->set("headers", make<JsonArray>());
  req->set("queryString", make<JsonArray>());
  setNumber(req, "headersSize", -1);
  setNumber(req, "bodySize", request->getRequestBody().length());

  SharedBytes body = request->getResponseBody();
  int bodySize = body ? body->length() : 0;
  plat::JsonPtr<JsonObject> resp = addObject(*entry, "response");
  setNumber(resp, "status", request->getStatus());
  setText(resp, "statusText", getReasonPhrase(request->getStatus()));
  setText(resp, "httpVersion", "HTTP/1.1");
  resp->set("cookies", make<JsonArray>());
  setText(resp, "redirectURL", "");
  plat::JsonPtr<JsonArray> headers = make<JsonArray>();
  resp->set("headers", headers);
  for (const auto& h : request->getResponseHeaders()) {
    plat::JsonPtr<JsonObject> header = make<JsonObject>();
    setText(header, "name", h.first.get());
    setText(header, "value", h.second.get());
    headers->append(header);
  }
  plat::JsonPtr<JsonObject> content = addObject(*resp, "content");
  setNumber(content, "size", bodySize);
  const char* type = request->getResponseHeader("Content-Type");
  setText(content, "mimeType", type ? type : "text/plain");
  setNumber(resp, "headersSize", -1);
  setNumber(resp, "bodySize", bodySize);

  plat::JsonPtr<JsonObject> timings = addObject(*entry, "timings");
  setNumber(timings, "blocked", blocked);
  setNumber(timings, "dns", -1);
  setNumber(timings, "connect", connectMs);
  setNumber(timings, "send", 0);
  setNumber(timings, "wait", wait);
  setNumber(timings, "receive", 0);
  entry->set("cache", make<JsonObject>());
  entries_->append(entry);
}

} // namespace http
