// The scripted HTTP(S) server (http_scripted.py) run by a test, a test CA
// with server certificates made by openssl, and a callback that records an
// HTTP request's outcome.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "http/HttpClient.h"
#include "os/AppInfo.h"
#include "plat/encodings.h"
#include "netTestUtil.h"
#include "testutil.h"

namespace httptest {

// The process as HTTP tests need it: an application name (the User-Agent
// names it) and no proxy settings from the environment, which would send the
// tests' connections elsewhere.
inline void prepareProcess()
{
  if (!os::AppInfo::isAppNameSet())
    os::AppInfo::setAppName("tltest");
  for (const char* v : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                        "ALL_PROXY", "no_proxy", "NO_PROXY"})
    unsetenv(v);
}

// One response of the server's script (see http_scripted.py).
struct Response {
  std::string raw;
  bool close = false;
  int closeAfterMs = -1;
  bool skipBody = false;
  bool silent = false;
  int delayMs = -1;
};

inline std::string jsonText(const std::string& s)
{
  std::string out = "\"";
  for (unsigned char c : s) {
    char buf[8];
    if (c == '"' || c == '\\' || c < 0x20 || c >= 0x7f) {
      snprintf(buf, sizeof(buf), "\\u%04x", c);
      out += buf;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

using Script = std::map<std::string, Response>;

// The server, started with a script and, for TLS, a certificate and key;
// stopped (standard input closed, then reaped) when this goes.
class ScriptedServer {
public:
  // With clientCa, TLS clients must present a certificate it issued.
  explicit ScriptedServer(const Script& script, const std::string& cert = "",
                          const std::string& key = "", const std::string& clientCa = "")
  {
    std::string json = "{";
    for (const auto& r : script) {
      if (json.size() > 1)
        json += ",";
      json += jsonText(r.first) + ":{\"raw\":" + jsonText(r.second.raw) +
              ",\"close\":" + (r.second.close ? "true" : "false") +
              ",\"skipBody\":" + (r.second.skipBody ? "true" : "false") +
              ",\"silent\":" + (r.second.silent ? "true" : "false");
      if (r.second.closeAfterMs >= 0)
        json += ",\"closeAfterMs\":" + std::to_string(r.second.closeAfterMs);
      if (r.second.delayMs >= 0)
        json += ",\"delayMs\":" + std::to_string(r.second.delayMs);
      json += "}";
    }
    std::string scriptPath = dir_.write("script.json", json + "}");
    logPath_ = dir_ / "log";
    std::vector<std::string> args{"/usr/bin/python3", TL_TEST_SUPPORT_DIR "/http_scripted.py",
                                  scriptPath, logPath_};
    if (!cert.empty()) {
      args.push_back(cert);
      args.push_back(key);
      if (!clientCa.empty())
        args.push_back(clientCa);
    }
    int out = -1;
    pid_ = tltest::spawnPiped(args, &stdin_, &out);
    if (pid_ < 0)
      return;
    char buf[32] = {};
    ssize_t n = 0;
    for (size_t got = 0; got < sizeof(buf) - 1; got += n) {
      n = read(out, buf + got, 1);
      if (n <= 0 || buf[got] == '\n')
        break;
    }
    close(out);
    port_ = atoi(buf);
    EXPECT_GT(port_, 0) << "http_scripted.py did not start";
  }
  ~ScriptedServer()
  {
    if (pid_ <= 0)
      return;
    close(stdin_);
    waitpid(pid_, nullptr, 0);
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int port() const { return port_; }
  // Lets the "hold-N" responses send their rest.
  void release() const
  {
    FILE* f = fopen((logPath_ + ".go").c_str(), "we");
    if (f)
      fclose(f);
  }

  // The requests received so far with the number of the connection that
  // carried each, in arrival order.
  struct Request {
    int conn;
    std::string bytes;
  };
  std::vector<Request> requests() const
  {
    std::vector<Request> out;
    for (const std::string& line : tltest::commandLines("cat " + logPath_ + " 2>/dev/null || true")) {
      int conn = 0;
      char hex[8];
      if (sscanf(line.c_str(), "conn %d %3s", &conn, hex) != 2 || strcmp(hex, "req") != 0)
        continue;
      plat::MBuf<unsigned char> bytes;
      plat::hexToBin(line.substr(line.find(" req ") + 5).c_str(), bytes);
      out.push_back({conn, std::string((const char*)bytes.data(), bytes.length())});
    }
    return out;
  }
  // How many requests had this target (path and query).
  int count(const std::string& target) const
  {
    int n = 0;
    for (const Request& r : requests())
      n += r.bytes.compare(r.bytes.find(' ') + 1, target.size() + 1, target + " ") == 0;
    return n;
  }
  // The commonNames of the client certificates presented, per connection.
  std::vector<std::string> clientCerts() const
  {
    std::vector<std::string> out;
    for (const std::string& line : tltest::commandLines("cat " + logPath_ + " 2>/dev/null || true")) {
      size_t at = line.find(" cert ");
      if (at != std::string::npos)
        out.push_back(line.substr(at + 6));
    }
    return out;
  }
  // How many connections the client has closed.
  int eofs() const
  {
    int n = 0;
    for (const std::string& line : tltest::commandLines("cat " + logPath_ + " 2>/dev/null || true"))
      n += line.size() > 4 && line.compare(line.size() - 4, 4, " eof") == 0;
    return n;
  }

private:
  tltest::TempDir dir_{"httpsrv"};
  std::string logPath_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};

// nginx serving files from a temporary directory on a free port of
// 127.0.0.1, over TLS too when given a certificate and key (then tlsPort is
// set); port() is 0 when nginx is missing or did not start.
class Nginx {
public:
  explicit Nginx(const std::string& cert = "", const std::string& key = "")
  {
    if (access(kBinary, X_OK) != 0)
      return;
    mkdir((dir_ / "www").c_str(), 0755);
    port_ = nettest::freePort();
    std::string servers = "server { listen 127.0.0.1:" + std::to_string(port_) +
                          "; root " + (dir_ / "www") + "; keepalive_requests 100000; }\n";
    if (!cert.empty()) {
      tlsPort_ = nettest::freePort();
      servers += "server { listen 127.0.0.1:" + std::to_string(tlsPort_) + " ssl; root " +
                 (dir_ / "www") + "; keepalive_requests 100000; ssl_certificate " + cert +
                 "; ssl_certificate_key " + key +
                 "; ssl_protocols TLSv1.2; ssl_ciphers ECDHE-RSA-AES128-GCM-SHA256; }\n";
    }
    std::string t = dir_.path();
    std::string conf = dir_.write(
        "nginx.conf", "daemon off; master_process off; worker_processes 1; pid " + t +
                          "/nginx.pid; error_log " + t + "/error.log;\n"
                          "events { worker_connections 256; }\n"
                          "http { access_log off; sendfile on; client_body_temp_path " + t +
                          "; proxy_temp_path " + t + "; fastcgi_temp_path " + t +
                          "; uwsgi_temp_path " + t + "; scgi_temp_path " + t + ";\n" + servers +
                          "}\n");
    pid_ = fork();
    if (pid_ == 0) {
      int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      execl(kBinary, kBinary, "-c", conf.c_str(), "-e", (t + "/error.log").c_str(), "-p",
            t.c_str(), (char*)nullptr);
      _exit(127);
    }
    if (!nettest::waitForPort(port_, 10000))
      port_ = 0;
  }
  ~Nginx()
  {
    if (pid_ <= 0)
      return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  int port() const { return port_; }
  int tlsPort() const { return tlsPort_; }
  // Serves content as /name.
  void file(const std::string& name, const std::string& content)
  {
    dir_.write("www/" + name, content);
  }
  std::string path(const std::string& name) const { return dir_ / ("www/" + name); }

private:
  static constexpr const char* kBinary = "/usr/sbin/nginx";
  tltest::TempDir dir_{"nginx"};
  pid_t pid_ = -1;
  int port_ = 0;
  int tlsPort_ = 0;
};

// A test CA and server certificates, made by openssl at test time in a
// temporary directory: ca.pem, and <name>.pem / <name>.key per server.
class TestCa {
public:
  explicit TestCa(const std::string& name = "HttpTestCA")
  {
    run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + name +
        " -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign"
        " -keyout ca.key -out ca.pem");
  }
  // A server certificate with the given subjectAltName ("DNS:localhost").
  std::string server(const std::string& name, const std::string& san)
  {
    run("openssl req -newkey rsa:2048 -nodes -subj /CN=" + name + " -keyout " + name +
        ".key -out " + name + ".csr && printf 'subjectAltName=" + san +
        "\\nextendedKeyUsage=serverAuth\\nbasicConstraints=CA:false\\n' > " + name +
        ".ext && openssl x509 -req -in " + name + ".csr -CA ca.pem -CAkey ca.key"
        " -CAcreateserial -days 2 -extfile " + name + ".ext -out " + name + ".pem");
    return dir_ / (name + ".pem");
  }
  // A client certificate (clientAuth) with that commonName.
  std::string client(const std::string& name)
  {
    run("openssl req -newkey rsa:2048 -nodes -subj /CN=" + name + " -keyout " + name +
        ".key -out " + name + ".csr && printf 'extendedKeyUsage=clientAuth\\nbasicConstraints=CA:false\\n' > " +
        name + ".ext && openssl x509 -req -in " + name + ".csr -CA ca.pem -CAkey ca.key"
        " -CAcreateserial -days 2 -extfile " + name + ".ext -out " + name + ".pem");
    return dir_ / (name + ".pem");
  }
  std::string path(const std::string& file) const { return dir_ / file; }
  const tltest::TempDir& dir() const { return dir_; }

private:
  void run(const std::string& command)
  {
    tltest::commandOutput("cd " + dir_.path() + " && (" + command + ") 2>&1");
  }
  tltest::TempDir dir_{"httpca"};
};

// Records how a request ended; refuses the statuses listed in refuse.
struct Outcome : http::HttpCallback {
  bool acceptStatus(http::HttpRequest*, int status) override
  {
    asked.push_back(status);
    for (int s : refuse)
      if (s == status)
        return false;
    return true;
  }
  void requestComplete(http::HttpRequest*) override { reports++, ok = true; }
  void requestFailed(http::HttpRequest*, plat::Exception* e) override
  {
    reports++;
    error = e->str();
    type = e->getType();
  }
  bool done() const { return reports > 0; }

  std::vector<int> refuse;
  std::vector<int> asked;
  int reports = 0;
  bool ok = false;
  std::string error;
  std::string type;
};

} // namespace httptest
