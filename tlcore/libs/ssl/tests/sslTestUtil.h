// The certificate zoo of the TLS tests (made by make_zoo.sh as the ctest
// fixture ssl_zoo) and helpers to read it and to ask openssl about it.
#pragma once

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Exception.h"
#include "plat/Time.h"
#include "ssl/SslCertificate.h"
#include "ssl/SslException.h"
#include "testutil.h"

namespace ssltest {

inline std::string zooPath(const std::string& name)
{
  return std::string(TL_SSL_ZOO_DIR) + "/" + name;
}

using tltest::readFile;

// The zoo certificate <name>.der.
inline ssl::SslCertificatePtr cert(const std::string& name)
{
  std::string der = readFile(zooPath(name + ".der"));
  return ssl::SslCertificate::createFromDer((int)der.size(),
                                            reinterpret_cast<const unsigned char*>(der.data()));
}

inline std::string bytes(const plat::MBuf<unsigned char>& b)
{
  return std::string(reinterpret_cast<const char*>(b.data()), b.length());
}

// What f throws: "code N: message" for an SslException, the message for
// another error, "" when nothing is thrown.
template <class F> std::string errorOf(F f)
{
  try {
    f();
    return "";
  } catch (const ssl::SslException& e) {
    return "code " + std::to_string(e.getCode()) + ": " + e.str();
  } catch (const plat::Exception& e) {
    return e.str();
  }
}

// A time inside the validity of everything valid in the zoo.
inline plat::Time zooNow()
{
  return plat::makeTime(2026, 6, 1, 12, 0, 0);
}

} // namespace ssltest

namespace ssltest {

// A server process on the loopback address that prints "ACCEPT
// host:port" once it listens; stopped when this goes. Its stdin takes
// commands, its output is kept.
class ServerProcess {
public:
  explicit ServerProcess(const std::vector<std::string>& argv)
  {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC))
      throw plat::Exception("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(out[1], 2);
      std::vector<const char*> args;
      for (const std::string& a : argv)
        args.push_back(a.c_str());
      args.push_back(nullptr);
      execvp(args[0], const_cast<char* const*>(args.data()));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    fcntl(stdout_, F_SETFL, O_NONBLOCK);
    while (port_ == 0) {
      if (!waitOutput(30000))
        throw plat::Exception("server did not start");
      size_t at = output_.find("ACCEPT ");
      size_t nl = at == std::string::npos ? at : output_.find('\n', at);
      if (nl != std::string::npos)
        port_ = atoi(output_.c_str() + output_.rfind(':', nl) + 1);
    }
  }
  ~ServerProcess()
  {
    kill(pid_, SIGTERM);
    tltest::waitChild(pid_);
    close(stdin_);
    close(stdout_);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
  void command(const std::string& text)
  {
    if (::write(stdin_, text.data(), text.size()) != (ssize_t)text.size())
      throw plat::Exception("server stdin");
  }
  // The output so far, after waiting up to ms for text to appear in it.
  std::string output(const std::string& text = "", int ms = 0)
  {
    drain();
    while (!text.empty() && output_.find(text) == std::string::npos && waitOutput(ms)) {
    }
    return output_;
  }

private:
  bool waitOutput(int ms)
  {
    struct pollfd p = {stdout_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
      return false;
    return drain() > 0;
  }
  ssize_t drain()
  {
    ssize_t total = 0, n;
    char buf[4096];
    while ((n = ::read(stdout_, buf, sizeof buf)) > 0) {
      output_.append(buf, n);
      total += n;
    }
    return total;
  }

  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1;
  int port_ = 0;
  std::string output_;
};

inline std::vector<std::string> plus(std::vector<std::string> a,
                                     const std::vector<std::string>& b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::string bracketed(const std::string& host)
{
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// `openssl s_server` with the given arguments ("R" on stdin renegotiates).
struct SServer : ServerProcess {
  SServer(const std::vector<std::string>& args, const std::string& host = "127.0.0.1")
      : ServerProcess(plus({"openssl", "s_server", "-accept", bracketed(host) + ":0"}, args))
  {
  }
};

// tls_scripted.py running scenario with zoo leaf <leaf> and the intermediate.
struct ScriptedServer : ServerProcess {
  ScriptedServer(const std::string& scenario, const std::string& leaf = "valid",
                 const std::string& host = "127.0.0.1")
      : ServerProcess({"/usr/bin/python3", TL_SSL_TESTS_DIR "/tls_scripted.py", scenario, host,
                       zooPath(leaf + ".pem"), zooPath(leaf + ".key"), zooPath("inter.pem")})
  {
  }
};

// A blocking TCP connection to host:port; -1 on failure.
inline int connectTo(const std::string& host, int port)
{
  struct addrinfo hints = {}, *res = nullptr;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res))
    return -1;
  int fd = socket(res->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, res->ai_addr, res->ai_addrlen)) {
    close(fd);
    fd = -1;
  }
  freeaddrinfo(res);
  return fd;
}

// The server arguments for zoo leaf <name>, sending the intermediate.
inline std::vector<std::string> serverCert(const std::string& name)
{
  return {"-cert", zooPath(name + ".pem"), "-key", zooPath(name + ".key"), "-cert_chain",
          zooPath("inter.pem")};
}

} // namespace ssltest
