// The HTTP request's response reader (head, length and chunked bodies,
// trailers, body limit) on arbitrary bytes over an in-memory connection.
// The first byte picks the method, the body limit and the size of the
// pieces in which the rest arrives; the outcome must be reported exactly
// once and be the same as when the bytes arrive whole.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "fuzz_io.h"
#include "fuzz_util.h"
#include "http/native/NativeHttpClient.h"
#include "io/FdSelectManager.h"
#include "os/AppInfo.h"
#include "rdr/tests/TrickleInStream.h"

namespace {

class MemConnector : public io::IoConnectorBase {
public:
  explicit MemConnector(io::Io* io) : io_(io) {}

protected:
  void begin() override { succeeded(io::IoPtr(io_)); }
  void cancel() override {}

private:
  io::Io* io_;
};

class FuzzClient : public http::NativeHttpClient {
public:
  FuzzClient() : NativeHttpClient(nullptr) {}
  io::Io* io = nullptr;

protected:
  std::unique_ptr<io::IoConnector> makeConnector(const char*) override
  {
    return std::make_unique<MemConnector>(io);
  }
};

struct Outcome : http::HttpCallback {
  bool acceptStatus(http::HttpRequest*, int) override { return true; }
  void requestComplete(http::HttpRequest* r) override
  {
    reports++;
    http::SharedBytes body = r->getResponseBody();
    text = "ok " + std::to_string(r->getStatus()) + " " +
           std::string((const char*)body->data(), body->length());
    for (const auto& h : r->getResponseHeaders())
      text += std::string("|") + h.first.str() + "=" + h.second.str();
  }
  void requestFailed(http::HttpRequest*, plat::Exception* e) override
  {
    reports++;
    text = std::string("error ") + e->str();
  }
  int reports = 0;
  std::string text;
};

std::string run(io::FdSelectManager& mgr, const std::string& bytes, bool head, int limit,
                size_t grain)
{
  TrickleInStream in(bytes);
  MemIo io(&in);
  Outcome o;
  {
    FuzzClient client;
    client.io = &io;
    std::unique_ptr<http::HttpRequest> r(client.newRequest(head ? "HEAD" : "GET", "http://f.test/"));
    r->setMaxBodySize(limit);
    r->start(&o);
    for (size_t pass = 0; pass < bytes.size() + 8 && !o.reports; pass++) {
      mgr.processOnce(0);
      if (!o.reports && io.handler) {
        in.arrive(grain);
        io.handler->dataAvailable(&io);
      }
    }
    for (int i = 0; i < 3; i++)
      mgr.processOnce(0);
    FUZZ_CHECK(o.reports == 1);
    r.reset();
    client.closeIdleConnections();
    for (int i = 0; i < 3; i++)
      mgr.processOnce(0);
  }
  return o.text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzQuietLogs();
  if (!os::AppInfo::isAppNameSet())
    os::AppInfo::setAppName("fuzz");
  if (size < 1)
    return 0;
  static io::FdSelectManager* mgr = new io::FdSelectManager;
  bool head = data[0] & 1;
  int limit = data[0] & 2 ? 64 : 1 << 20;
  size_t grain = (data[0] >> 2) + 1;
  std::string bytes((const char*)data + 1, size - 1);
  std::string whole = run(*mgr, bytes, head, limit, bytes.size() + 1);
  std::string pieces = run(*mgr, bytes, head, limit, grain);
  if (whole != pieces) {
    fprintf(stderr, "whole:  %s\npieces: %s\n", whole.c_str(), pieces.c_str());
    FUZZ_CHECK(whole == pieces);
  }
  return 0;
}
