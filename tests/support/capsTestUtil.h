// What the capabilities request and redeemer tests share: the
// authentication stand-in with its package loaded from a trusted data
// directory, node 0 serving a bootstrap document signed by the bootstrap
// test signer (TL_BOOTSTRAP_KEYS) that names the other nodes, a hosted
// session and client over it, a monotonic clock that
// tests move forward instead of waiting, and a loop runner limited in real
// time.
#pragma once

#include <time.h>

#include <chrono>
#include <functional>
#include <memory>

#include "authStandIn.h"
#include "hosted/HostedRequest.h"
#include "hostedremoteaccess/CapsClient.h"
#include "hostedremoteaccess/CloudConfig.h"
#include "io/FdSelectManager.h"
#include "os/dirs.h"
#include "plat/Time.h"
#include "plat/Timer.h"
#include "rootdir.h"

namespace capstest {

const std::string kKeys = TL_BOOTSTRAP_KEYS;

// The system's monotonic clock plus what the test skipped.
inline plat::Time& skipped()
{
  static plat::Time t = 0;
  return t;
}

// A wait the test announced (a Retry-After delay), skipped on the next
// pass of runUntil.
inline plat::Time& pendingSkip()
{
  static plat::Time t = 0;
  return t;
}
inline void skipAhead(int ms)
{
  pendingSkip() += (plat::Time)ms * plat::kTicksPerMilli;
}

inline plat::Time skippingClock(plat::Time, bool* jumped)
{
  if (jumped)
    *jumped = false;
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (plat::Time)ts.tv_sec * plat::kTicksPerSecond + ts.tv_nsec / 100 + skipped();
}

class CapsFixture {
public:
  // nodes: node 0 stands for bootstrap, the others are auth nodes.
  explicit CapsFixture(int nodes)
  {
    if (data_.path().empty())
      return;
    httptest::prepareProcess();
    os::setSystemConfigDir(data_.path().c_str());
    previousClock_ = plat::setMonoClock(skippingClock);
    // Long exchanges, so that skipping to the next timer never ends one.
    hosted::hostedRequestTimeout.setValue(100000, 1000);
    standin_.reset(new httptest::AuthStandIn(nodes, data_.path(), kKeys + "/ca.pem"));
    std::string auth;
    for (int n = 1; n < nodes; n++)
      auth += (auth.empty() ? "" : ";") + standin_->url(n);
    httptest::serveBootstrapDocument(*standin_, kKeys, auth);
    context_ = hostedremoteaccess::loadCloudConfig();
    session_.reset(new hosted::HostedHttpSession(context_, nullptr));
    client_.reset(new hostedremoteaccess::CapsClient(context_, session_.get()));
  }
  ~CapsFixture()
  {
    if (!standin_)
      return;
    client_.reset();
    session_.reset();
    for (int i = 0; i < 5; i++)
      mgr_.processOnce(0);
    standin_.reset();
    hosted::hostedRequestTimeout.unset(1000, false);
    pendingSkip() = 0;
    plat::setMonoClock(previousClock_);
    os::setSystemConfigDir("");
  }

  bool ready() const { return standin_ != nullptr; }
  httptest::AuthStandIn& standin() { return *standin_; }
  hostedremoteaccess::CapsClient& client() { return *client_; }
  hosted::HostedHttpSession& session() { return *session_; }
  const hosted::HostedClientContextPtr& context() const { return context_; }
  io::FdSelectManager& mgr() { return mgr_; }

  // Runs the loop until done() holds (false after 20 s of real time). An
  // announced wait is skipped, as is the way to a timer due within 100 ms
  // (a new node's delay); longer timers (connection time-outs) run on.
  bool runUntil(const std::function<bool()>& done)
  {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end)
        return false;
      int ms = plat::TimerManager::current()->getTimeout();
      if (pendingSkip()) {
        skipped() += pendingSkip();
        pendingSkip() = 0;
      } else if (ms > 0 && ms <= 100) {
        skipped() += (plat::Time)ms * plat::kTicksPerMilli;
      }
      mgr_.processOnce(50);
    }
    return true;
  }

private:
  tltest::RootOnlyDir data_;
  io::FdSelectManager mgr_;
  plat::MonoClockFn previousClock_ = nullptr;
  std::unique_ptr<httptest::AuthStandIn> standin_;
  hosted::HostedClientContextPtr context_;
  std::unique_ptr<hosted::HostedHttpSession> session_;
  std::unique_ptr<hostedremoteaccess::CapsClient> client_;
};

} // namespace capstest
