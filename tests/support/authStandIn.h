// The authentication stand-in (auth_standin.py) run by a test: HTTPS nodes
// with queues of scripted answers, certificates from a test CA, and
// optionally a "CloudConfig.pkg" naming the nodes, made by mkcloudconfig
// in a directory the test puts first in the data search.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "httpTestUtil.h"
#include "plat/Json.h"

namespace httptest {

// One scripted answer of a node.
struct Answer {
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool date = true;
  bool reset = false;  // close the connection instead of answering
  bool sticky = false; // the answer to every later request
  int delayMs = 0;      // waited before answering
};

// One request as a node received it; header names as sent.
struct Received {
  int node;
  std::string method, path, body;
  std::vector<std::pair<std::string, std::string>> headers;
  // The first value of name (case-insensitive), or "<none>".
  std::string header(const std::string& name) const
  {
    for (const auto& h : headers)
      if (strcasecmp(h.first.c_str(), name.c_str()) == 0)
        return h.second;
    return "<none>";
  }
};

class AuthStandIn {
public:
  // Node 0 serves bootstrap and discovery in the written package; the
  // others are the "enterprise/auth-uris". configDir "" writes no package;
  // the package trusts the stand-in's CA and extraCa (a PEM file) if given.
  AuthStandIn(int nodes, const std::string& configDir = "", const std::string& extraCa = "")
  {
    cert_ = ca_.server("standin", "IP:127.0.0.1,DNS:localhost");
    std::vector<std::string> args{"/usr/bin/python3", TL_TEST_SUPPORT_DIR "/auth_standin.py", cert_,
                                  ca_.path("standin.key"), dir_ / "log", std::to_string(nodes)};
#ifdef TL_MKCLOUDCONFIG
    if (!configDir.empty())
      for (const std::string& a : {std::string(TL_MKCLOUDCONFIG),
                                   std::string(TL_CLOUDCONFIG_DIR "/keys"),
                                   ca_.path("ca.pem") + (extraCa.empty() ? "" : "," + extraCa),
                                   configDir})
        args.push_back(a);
#else
    EXPECT_TRUE(configDir.empty() && extraCa.empty()) << "built without mkcloudconfig";
#endif
    pid_ = tltest::spawnPiped(args, &stdin_, &stdout_);
    if (pid_ < 0)
      return;
    std::string line = readLine();
    for (size_t at = 0; at < line.size();) {
      ports_.push_back(atoi(line.c_str() + at));
      at = line.find(' ', at);
      at = at == std::string::npos ? line.size() : at + 1;
    }
    EXPECT_EQ((size_t)nodes, ports_.size()) << "auth_standin.py did not start";
  }
  ~AuthStandIn()
  {
    if (pid_ <= 0)
      return;
    close(stdin_);
    close(stdout_);
    waitpid(pid_, nullptr, 0);
  }
  AuthStandIn(const AuthStandIn&) = delete;
  AuthStandIn& operator=(const AuthStandIn&) = delete;

  int port(int node) const { return node < (int)ports_.size() ? ports_[node] : 0; }
  std::string url(int node) const { return "https://127.0.0.1:" + std::to_string(port(node)); }
  const TestCa& ca() const { return ca_; }

  void push(int node, const Answer& a)
  {
    std::string headers;
    for (const auto& h : a.headers)
      headers += std::string(headers.empty() ? "" : ",") + "[" + jsonText(h.first) + "," +
                 jsonText(h.second) + "]";
    command("{\"node\":" + std::to_string(node) + ",\"status\":" + std::to_string(a.status) +
            ",\"reason\":" + jsonText(a.reason) + ",\"headers\":[" + headers +
            "],\"body\":" + jsonText(a.body) + ",\"date\":" + (a.date ? "true" : "false") +
            ",\"reset\":" + (a.reset ? "true" : "false") +
            ",\"sticky\":" + (a.sticky ? "true" : "false") +
            ",\"delayMs\":" + std::to_string(a.delayMs) + "}");
  }
  // Empties every node's queue.
  void clear() { command("{\"clear\":true}"); }
  // Later answers' "Date" runs this far from the local clock.
  void setDateOffset(int seconds) { command("{\"dateOffset\":" + std::to_string(seconds) + "}"); }

  std::vector<Received> requests() const
  {
    std::vector<Received> out;
    for (const std::string& line : tltest::commandLines("cat " + (dir_ / "log") + " 2>/dev/null || true")) {
      plat::JsonPtr<plat::JsonObject> o =
          plat::toJsonObject(plat::JsonValue::parse(line.data(), (int)line.size(), nullptr));
      Received r;
      r.node = (int)o->get("node")->asNumber().value();
      r.method = o->get("method")->asString().str();
      r.path = o->get("path")->asString().str();
      plat::MBuf<unsigned char> body;
      plat::hexToBin(o->get("body")->asString().str(), body);
      r.body.assign((const char*)body.data(), body.length());
      for (const plat::JsonPtr<plat::JsonValue>& h : *o->getArray("headers"))
        r.headers.emplace_back(h->asArray().get(0)->asString().str(),
                               h->asArray().get(1)->asString().str());
      out.push_back(r);
    }
    return out;
  }

private:
  std::string readLine()
  {
    std::string line;
    char c;
    while (read(stdout_, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }
  void command(const std::string& json)
  {
    std::string text = json + "\n";
    EXPECT_EQ((ssize_t)text.size(), write(stdin_, text.data(), text.size()));
    EXPECT_EQ("ok", readLine());
  }

  TestCa ca_;
  std::string cert_;
  tltest::TempDir dir_{"authstandin"};
  std::vector<int> ports_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
};

// Makes node 0 of standin serve, to every request, a bootstrap document signed
// by the signer in keysDir that names authUris (";"-separated) as the
// authentication nodes.
inline void serveBootstrapDocument(AuthStandIn& standin, const std::string& keysDir,
                                   const std::string& authUris)
{
  tltest::TempDir scratch("btpdoc");
  std::string desc = scratch.write(
      "desc.json", "{\"uris\": [\"" + standin.url(0) + "/btp\"], \"count\": 1, \"key\": \"" +
                       keysDir + "/signer.key\", \"certs\": [\"" + keysDir +
                       "/signer.pem\"], \"params\": [[\"enterprise/auth-uris\", \"" + authUris +
                       "\"]]}");
  tltest::commandOutput("/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/bootstrap_sign.py doc " + desc +
                        " " + (scratch / "doc"));
  Answer doc;
  doc.body = tltest::readFile(scratch / "doc");
  doc.headers = {{"Content-Type", "application/vnd.tessaly.bed"}};
  doc.sticky = true;
  standin.push(0, doc);
}

} // namespace httptest
