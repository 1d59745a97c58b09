// Making direct TCP connections, in three layers: io::TcpConnector resolves
// a host name without blocking the loop and hands the addresses to an
// io::IoConnectorMulti, which runs one io::TcpAddrConnector per address,
// staggered, and reports the first success; io::TcpAddrConnector makes one
// non-blocking connect and hands over an io::TcpIo. Each also connects
// synchronously (connect()) for callers that cannot wait for the loop.
//
// Ownership: connectors belong to whoever created them; deleting one
// abandons its attempt and closes whatever it had opened. Results are
// reported on a later pass, never from inside start(), and as the
// connector's last action. A multi-connector owns the connectors given to
// it. Loop thread only.
#pragma once

#include <memory>
#include <vector>

#include "io/FdManager.h"
#include "io/Io.h"
#include "io/IpInfo.h"
#include "io/IpResolver.h"
#include "plat/String.h"
#include "plat/Timer.h"

namespace io {

class TcpIo;

// Runs several connectors for one destination, starting the next one
// delayMs after the previous (at once when one fails) and keeping the first
// connection made; the other attempts are abandoned. With a negative delay
// the connectors run strictly one after another.
class IoConnectorMulti : public IoConnector,
                         private IoConnected,
                         private plat::Timer::Callback {
public:
  explicit IoConnectorMulti(int delayMs = 10);
  ~IoConnectorMulti() override;

  // In the order to try. Before start only.
  void add(std::unique_ptr<IoConnector> connector);
  bool empty() const { return ics_.empty(); }

  // Fatal with no connectors, a null callback or a second start.
  void start(IoConnected* callback) override;
  // Each connector's connect() in turn; the last one's error is thrown.
  IoPtr connect() override;

private:
  void startNext();
  void connected(IoConnector* connector, IoPtr io) override;
  void failed(IoConnector* connector, const plat::Exception& error) override;
  void progress(IoConnector* connector) override;
  bool timerExpired(plat::Timer* timer) override;

  IoConnected* cb_ = nullptr;
  std::vector<std::unique_ptr<IoConnector>> ics_;
  int current_ = -1;
  int failures_ = 0;
  int delayMs_;
  plat::Timer timer_;
  bool progressSent_ = false;
};

// One non-blocking connect to one address.
class TcpAddrConnector : public IoConnectorBase, private IoHandler {
public:
  // hostName (may be null) is what the connection will say it was asked
  // for.
  TcpAddrConnector(IpInfo address, const char* hostName);
  // Closes a connect still under way.
  ~TcpAddrConnector() override;

  // Blocking connect; throws plat::SystemException.
  IoPtr connect() override;

  // Logs the attempt and returns a socket connected (blocking) or being
  // connected to address; throws plat::SystemException.
  static int connectSocket(const IpInfo& address, bool blocking);
  // The user text for an errno of a connect attempt, or null.
  static const char* errorMessage(int systemError);

protected:
  void begin() override;
  void cancel() override;

private:
  void dataAvailable(Io* io) override;
  void writable(Io* io) override;
  void fail(const plat::Exception& error);

  // The connection in progress (a TcpIo); shut down without flush,
  // handler not told.
  TcpIo* tcpIo() const;

  IpInfo address_;
  IoPtr io_{nullptr, io::Shutdown::kDrop};
  plat::String hostName_;
};

// A direct TCP connection to a host name or numeric address.
class TcpConnector : public IoConnector, private IpResolver::Callback, private IoConnected {
public:
  // Square brackets around host are removed.
  TcpConnector(const char* host, int port);
  // An endpoint name ("host", "host:N", "host::port", "[v6]:N"); throws
  // io::EndpointInvalid.
  TcpConnector(const char* endpoint, int basePort, int range);
  ~TcpConnector() override;

  void start(IoConnected* callback) override;
  // Resolves and connects, blocking; the last address's error is thrown.
  IoPtr connect() override;
  // "Direct TCP".
  const char* methodName(bool localised) override;

  const char* getHost() const { return host_.str(); }
  int getPort() const { return port_; }

private:
  // IpResolver::Callback
  void resolved(IpResolver* resolver, IpInfoList& addresses) override;
  void failed(IpResolver* resolver, const plat::Exception& error) override;
  void resolverGone(IpResolver* resolver) override;
  // IoConnected (from the multi-connector)
  void connected(IoConnector* connector, IoPtr io) override;
  void failed(IoConnector* connector, const plat::Exception& error) override;

  IoConnected* callback_ = nullptr;
  plat::String host_;
  int port_ = 0;
  IpResolver* resolver_ = nullptr;
  std::unique_ptr<IoConnectorMulti> multi_;
  // A resolver that went away unanswered is reported on the next pass.
  DeferredCall goneReport_;
};

} // namespace io
