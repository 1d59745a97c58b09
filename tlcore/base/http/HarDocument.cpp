#include "http/HarDocument.h"

#include <limits.h>
#include <time.h>

#include <algorithm>

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

void setText(JsonObject* o, const char* key, const char* text)
{
  o->set(key, new JsonString(text ? text : ""));
}

void setNumber(JsonObject* o, const char* key, int64_t n)
{
  o->set(key, new JsonNumber(n));
}

} // namespace

HarDocument* HarDocument::instance()
{
  // Kept until exit: the file always holds every exchange of the process.
  static HarDocument* document = new HarDocument;
  return document;
}

HarDocument::HarDocument() : pages_(new JsonArray), entries_(new JsonArray)
{
  JsonObject* log = new JsonObject;
  set("log", log);
  setText(log, "version", "1.2");
  JsonObject* creator = new JsonObject;
  log->set("creator", creator);
  setText(creator, "name", os::AppInfo::getDisplayName(false));
  setText(creator, "version", plat::ProductVersionInfo::displayVersion());
  log->set("pages", plat::JsonPtr<plat::JsonValue>(pages_));
  log->set("entries", plat::JsonPtr<plat::JsonValue>(entries_));
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
  JsonObject* page = new JsonObject;
  setText(page, "startedDateTime", formatTime(startTime).str());
  setText(page, "id", id.get());
  setText(page, "title", title.get());
  JsonObject* timings = new JsonObject;
  page->set("pageTimings", timings);
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

  JsonObject* entry = new JsonObject;
  setText(entry, "startedDateTime", formatTime(started).str());
  setText(entry, "pageref", pageId);
  setNumber(entry, "time", blocked + (connectMs == -1 ? 0 : connectMs) + wait);

  JsonObject* req = new JsonObject;
  entry->set("request", req);
  setText(req, "method", request->getMethod());
  setText(req, "url", request->getUrl());
  setText(req, "httpVersion", "HTTP/1.1");
  req->set("cookies", new JsonArray);
  req->set("headers", new JsonArray);
  req->set("queryString", new JsonArray);
  setNumber(req, "headersSize", -1);
  setNumber(req, "bodySize", request->getRequestBody().length());

  SharedBytes body = request->getResponseBody();
  int bodySize = body ? body->length() : 0;
  JsonObject* resp = new JsonObject;
  entry->set("response", resp);
  setNumber(resp, "status", request->getStatus());
  setText(resp, "statusText", getReasonPhrase(request->getStatus()));
  setText(resp, "httpVersion", "HTTP/1.1");
  resp->set("cookies", new JsonArray);
  setText(resp, "redirectURL", "");
  JsonArray* headers = new JsonArray;
  resp->set("headers", headers);
  for (const auto& h : request->getResponseHeaders()) {
    JsonObject* header = new JsonObject;
    setText(header, "name", h.first.get());
    setText(header, "value", h.second.get());
    headers->append(header);
  }
  JsonObject* content = new JsonObject;
  resp->set("content", content);
  setNumber(content, "size", bodySize);
  const char* type = request->getResponseHeader("Content-Type");
  setText(content, "mimeType", type ? type : "text/plain");
  setNumber(resp, "headersSize", -1);
  setNumber(resp, "bodySize", bodySize);

  JsonObject* timings = new JsonObject;
  entry->set("timings", timings);
  setNumber(timings, "blocked", blocked);
  setNumber(timings, "dns", -1);
  setNumber(timings, "connect", connectMs);
  setNumber(timings, "send", 0);
  setNumber(timings, "wait", wait);
  setNumber(timings, "receive", 0);
  entry->set("cache", new JsonObject);
  entries_->append(entry);
}

} // namespace http
