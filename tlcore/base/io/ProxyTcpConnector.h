// The shared base of the proxy protocols (SOCKS 5, HTTP CONNECT).
//
// io::ProxyTcpConnector opens (or takes) the TCP connection to the proxy,
// guards the whole exchange with a time-out, feeds the proxy's replies to the
// subclass's step() and turns every failure into an io::ProxyError whose via
// is the proxy's host:port. When the subclass calls finish() the proxy
// connection leaves, wrapped in an io::NamedIo named after the target.
//
// A connector is used once: start, then one success or one failure, reported
// as its last action. It owns the proxy connection until then and shuts it
// down (no flush, handler not told) on failure or deletion. The prompt is
// borrowed. Loop thread only.
#pragma once

#include <memory>

#include "io/Io.h"
#include "io/ProxyError.h"
#include "plat/String.h"
#include "plat/Timer.h"

#include "rdr/Forward.h"

namespace io {

class TcpConnector;

// What a proxy needs from the user.
enum class ProxyNeeds : unsigned { kUser = 1, kPassword = 2 };
PLAT_FLAG_OPERATORS(ProxyNeeds)

// Asks the user for the proxy's user name and password. Nothing in this
// program makes one; connectors work with none.
class ProxyPasswdPrompt {
public:
  class Callback {
  public:
    // May come from inside ask() or later on the loop thread.
    virtual void passwordEntered(const char* user, const char* password) = 0;
    virtual ~Callback();
  };

  virtual void ask(ProxyNeeds needs, const char* proxy, Callback* callback) = 0;
  // Forgets an outstanding question of callback.
  virtual void cancel(Callback* callback) = 0;
  virtual ~ProxyPasswdPrompt();
};

class ProxyTcpConnector : public IoConnectorBase, protected IoConnected, protected IoHandler {
public:
  // host may carry IPv6 brackets; proxy is "host:port". existing (may be
  // empty) is an open connection to the proxy.
  ProxyTcpConnector(const char* host, int port, const char* proxy, const char* methodNamePlain,
                    const char* methodNameLocalised, IoPtr existing, ProxyPasswdPrompt* prompt);
  ~ProxyTcpConnector() override;

  void start(IoConnected* callback) override;
  const char* methodName(bool localised) override;

  // The credentials to offer; before start.
  void setCredentials(const char* user, const char* password);

  const char* getHost() const { return host_.str(); }
  int getPort() const { return port_; }
  const char* getProxy() const { return proxy_.str(); }

  // The time-out of the exchange (10000 ms); tests shorten it. Applies to
  // connectors that start the time-out afterwards.
#ifdef TL_TEST_HOOKS
  static void setTimeoutMsForTests(int ms);
#endif
  static int timeoutMs();

protected:
  using IoConnectorBase::failed;

  // Takes the connection's streams, starts the time-out and sends the
  // protocol's opening.
  void begin() override;
  // Drops the TCP connector and the proxy connection, stops the time-out;
  // reports nothing.
  void cancel() override;

  // The protocol's opening message.
  virtual void sendFirst() = 0;
  // Runs the protocol's current state once; true asks for another run.
  // Throws io::ProxyError for protocol failures.
  virtual bool step() = 0;

  // The tunnel is open: hands the connection up as an io::NamedIo.
  void finish();
  // Drops the proxy connection and connects to the proxy again; begin()
  // runs once the new connection is up.
  void reconnect();
  // Logs, cancels and reports error (the last action of a run).
  void fail(const ProxyError& error);
  // A non-proxy error: reported as "ConnectionError" with error as cause.
  void failWith(const plat::Exception& error);
  // Stops and restarts the exchange's time-out (around a prompt).
  void stopTimeout();
  void restartTimeout();
  // Shuts the proxy connection down (no flush, handler not told) and
  // forgets it and its streams.
  void releaseIo();

  // IoConnected: the TCP connection to the proxy.
  void connected(IoConnector* connector, IoPtr io) override;
  void failed(IoConnector* connector, const plat::Exception& error) override;
  // IoHandler: the proxy's replies.
  void dataAvailable(Io* io) override;
  void writable(Io* io) override;
  void closed(Io* io) override;

  plat::String host_;
  int port_;
  plat::String proxy_;
  plat::SecureString user_;
  plat::SecureString password_;
  // Shut down without flush, handler not told.
  IoPtr io_{nullptr, io::Shutdown::kDrop};
  rdr::InStream* inStream_ = nullptr;
  rdr::OutStream* outStream_ = nullptr;
  std::unique_ptr<TcpConnector> tcpConnector_;
  plat::String methodNamePlain_;
  plat::String methodNameLocalised_;
  ProxyPasswdPrompt* prompt_;

private:
  class TimeoutCallback : public plat::Timer::Callback {
  public:
    explicit TimeoutCallback(ProxyTcpConnector* owner) : owner_(owner) {}
    bool timerExpired(plat::Timer* timer) override;

  private:
    ProxyTcpConnector* owner_;
  };

  void timedOut();

  // A failure found before any connect, reported from the start timer.
  std::unique_ptr<ProxyError> failedLater_;
  TimeoutCallback timeoutCallback_{this};
  plat::Timer timeout_{&timeoutCallback_};
};

} // namespace io
