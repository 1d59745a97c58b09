// Lets code that called out tell whether the object it belongs to was
// destroyed meanwhile: a dispatcher whose callback may delete it holds a
// LivenessToken and marks it first thing in its destructor; each
// DestroyGuard keeps the token's state alive while it looks at it. One
// thread; nothing is locked.
#pragma once

#include <memory>

namespace plat {

class LivenessToken {
public:
  LivenessToken() : alive_(std::make_shared<bool>(true)) {}
  ~LivenessToken() { markDestroyed(); }
  // Called first thing in the owner's destructor, so callbacks made while
  // it tears down already see it as gone.
  void markDestroyed() { *alive_ = false; }
  LivenessToken(const LivenessToken&) = delete;
  LivenessToken& operator=(const LivenessToken&) = delete;

private:
  friend class DestroyGuard;
  std::shared_ptr<bool> alive_;
};

class DestroyGuard {
public:
  explicit DestroyGuard(const LivenessToken& token) : alive_(token.alive_) {}
  bool destroyed() const { return !*alive_; }

private:
  std::shared_ptr<bool> alive_;
};

} // namespace plat
