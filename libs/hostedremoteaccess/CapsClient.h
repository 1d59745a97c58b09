// The long-lived client of the hosted services: shares the client context
// and the hosted HTTP session with every capabilities request made through
// it and remembers, per service kind, the base address discovery found last,
// so that later requests go straight to it. It also keeps the bootstrap
// parameters last recorded and tells its observers when they change.
//
// The context is shared; the session and the observers are borrowed and
// must outlive the client, and requests must not outlive it. Nothing is
// persisted. Loop thread.
#pragma once

#include <set>

#include "hosted/BootstrapConfig.h"
#include "hosted/HostedClientContext.h"
#include "plat/String.h"

namespace hostedremoteaccess {

class CapsClient {
public:
  // The service kinds; each name is its discovery key.
  enum : unsigned { kAuth = 0, kDirectory = 1, kGraphql = 2, kPresence = 3, kKindCount = 4 };
  typedef hosted::BootstrapConfig::Parameters Parameters;

  class Observer {
  public:
    virtual void capsParametersChanged(const Parameters& parameters) = 0;

  protected:
    ~Observer() = default;
  };

  CapsClient(const hosted::HostedClientContextPtr& context, hosted::HostedHttpSession* httpSession);
  virtual ~CapsClient() = default;
  CapsClient(const CapsClient&) = delete;
  CapsClient& operator=(const CapsClient&) = delete;

  // --- Service kinds (a bad kind or name is a fatal assertion)
  static const char* kindName(unsigned kind);
  // Case-insensitive.
  static unsigned kindFromName(const char* name);

  // --- Recorded base addresses
  const char* getUrl(unsigned kind) const;
  void clearUrl(unsigned kind);
  // Stores the address, back-off and parameters, then tells every observer.
  void recordUrl(unsigned kind, const char* url, int maxBackoffSecs, const Parameters& parameters);

  // --- Observers (borrowed); one added while parameters are known hears
  // them at once.
  void setObserver(Observer* observer, bool add);

  // True when name's whole value is a base-10 integer of 32 bits.
  static bool getIntParameter(const Parameters& parameters, const char* name, int* value);

  const hosted::HostedClientContextPtr& context() const { return context_; }
  hosted::HostedHttpSession* httpSession() const { return httpSession_; }
  int maxBackoffSecs() const { return maxBackoffSecs_; }
  const Parameters& parameters() const { return parameters_; }

private:
  hosted::HostedClientContextPtr context_;
  hosted::HostedHttpSession* httpSession_;
  std::set<Observer*> observers_;
  plat::String urls_[kKindCount];
  int maxBackoffSecs_;
  Parameters parameters_;
};

} // namespace hostedremoteaccess
