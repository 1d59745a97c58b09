// Base of classes whose objects have an identity (a tree node, a
// certificate, a stream) and must not be copied by accident.
#pragma once

namespace plat {

class NonCopyable {
protected:
  NonCopyable() = default;
  ~NonCopyable() = default;

public:
  NonCopyable(const NonCopyable&) = delete;
  NonCopyable& operator=(const NonCopyable&) = delete;
};

} // namespace plat
