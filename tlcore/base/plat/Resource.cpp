#include "plat/Resource.h"

#include <map>
#include <string>

namespace plat {

namespace {

struct Entry {
  unsigned size;
  const void* data;
};

// A function-level static so that registrations from other units' static
// initialisers find it constructed, whatever the link order.
std::map<std::string, Entry>& registry()
{
  static std::map<std::string, Entry> entries;
  return entries;
}

} // namespace

void addBuiltInResource(const char* name, unsigned size, const void* data)
{
  if (!name)
    return;
  registry()[name] = Entry{size, data};
}

BuiltInResource findBuiltInResource(const char* name)
{
  if (!name)
    return {0, nullptr};
  const auto& entries = registry();
  auto it = entries.find(name);
  if (it == entries.end())
    return {0, nullptr};
  return {it->second.size, it->second.data};
}

} // namespace plat
