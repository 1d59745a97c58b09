#include "io/IpResolver.h"

#include <netdb.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "io/IpResolverIpc.h"
#include "os/socket.h"
#include "plat/Log.h"
#include "plat/Mutex.h"
#include "plat/Shutdown.h"

namespace io {

namespace {

plat::LogSrc vlog("IpResolver");

constexpr int kMaxResolvers = 3;
constexpr int kPruneMs = 60000;

// Leaked on purpose: a worker may look a name up while statics go away.
struct LookupSlot {
  plat::Mutex mutex;
  std::shared_ptr<HostLookup> lookup;
};

LookupSlot& lookupSlot()
{
  static LookupSlot* slot = new LookupSlot;
  return *slot;
}

std::shared_ptr<HostLookup> currentLookup()
{
  LookupSlot& slot = lookupSlot();
  plat::MutexLock lock(slot.mutex);
  return slot.lookup;
}

void systemLookup(const char* host, int port, int family, std::vector<IpInfo>& out)
{
  char service[16];
  snprintf(service, sizeof(service), "%d", port);
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* result = nullptr;
  int r = getAddrInfo(host, service, &hints, &result);
  if (r != 0)
    throw GetAddrInfoException("getaddrinfo", r);
  for (struct addrinfo* ai = result; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6)
      continue;
    try {
      out.push_back(IpInfo(ai->ai_addr, (int)ai->ai_addrlen));
    } catch (...) {
      freeAddrInfo(result);
      throw;
    }
  }
  freeAddrInfo(result);
}

IpResolverMgr* instance = nullptr;

} // namespace

// --- Interfaces -------------------------------------------------------------------

IpResolver::IpResolveException::IpResolveException(const char* message) : Exception(message)
{
  setType("IpResolve");
}

IpResolver::Callback::~Callback() = default;

void IpResolver::Callback::resolverGone(IpResolver*)
{
}

IpResolver::~IpResolver() = default;

HostLookup::~HostLookup() = default;

// --- Blocking lookup ----------------------------------------------------------------

void resolveSync(const char* host, int port, int family, IpInfoList& result)
{
  vlog.info("Resolve host=%s, port=%d, family=%d", host ? host : "(null)", port, family);
  os::initSocketProcessLimits();
  result.addresses.clear();
  result.name = plat::String(host);
  if (!host)
    throw GetAddrInfoException("No host name", EAI_NONAME);
  if (strlen(host) > (size_t)kMaxHostNameLength)
    throw GetAddrInfoException("Host name longer than 255 bytes", EAI_NONAME);

  // Endpoint names keep IPv6 literals in brackets; getaddrinfo wants them
  // bare.
  int len = (int)strlen(host);
  plat::String bare(host);
  if (len >= 2 && host[0] == '[' && host[len - 1] == ']')
    bare = plat::String(host + 1, len - 2);

  std::vector<IpInfo> found;
  std::shared_ptr<HostLookup> hook = currentLookup();
  detail::lookupStarting();
  try {
    if (!hook || !hook->lookup(bare.get(), port, family, found))
      systemLookup(bare.get(), port, family, found);
  } catch (...) {
    detail::lookupFinished();
    throw;
  }
  detail::lookupFinished();

  for (IpInfo& address : found) {
    int f = address.family();
    if (family == 0 ? (f == AF_INET || f == AF_INET6) : f == family) {
      result.addresses.push_back(std::move(address));
      if (!vlog.disabled(plat::LogSrc::kInfo))
        vlog.info("Resolved %s for %s", result.addresses.back().toString(), host);
    }
  }
  if (result.addresses.empty())
    throw GetAddrInfoException(plat::format("getaddrinfo for host %s", host).get(), EAI_ADDRFAMILY);
}

std::shared_ptr<HostLookup> setHostLookup(std::shared_ptr<HostLookup> lookup)
{
  LookupSlot& slot = lookupSlot();
  plat::MutexLock lock(slot.mutex);
  slot.lookup.swap(lookup);
  return lookup;
}

void HostTable::add(const char* name, const char* address)
{
  IpInfo check(address, 0);
  entries_.push_back({plat::String(name), plat::String(address)});
}

bool HostTable::lookup(const char* host, int port, int, std::vector<IpInfo>& out)
{
  bool matched = false;
  for (const Entry& e : entries_) {
    if (strcasecmp(e.name.str(), host) == 0) {
      out.push_back(IpInfo(e.address.get(), port));
      matched = true;
    }
  }
  if (matched || !strict_)
    return matched;
  try {
    IpInfo numeric(host, port);
    return false;
  } catch (GetAddrInfoException&) {
    throw GetAddrInfoException("getaddrinfo", EAI_NONAME);
  }
}

// --- The pool -------------------------------------------------------------------------

IpResolver* IpResolverMgr::getResolver()
{
  // A manager whose loop has gone cannot time anything any more.
  if (instance && !instance->manager_)
    shutdown();
  if (!instance) {
    instance = new IpResolverMgr;
    plat::addShutdownStep(plat::kShutdownResolvers, &IpResolverMgr::shutdown);
  }
  return instance->pick();
}

void IpResolverMgr::shutdown()
{
  IpResolverMgr* mgr = instance;
  instance = nullptr;
  delete mgr;
}

std::vector<IpResolver*> IpResolverMgr::resolversForTest()
{
  std::vector<IpResolver*> list;
  if (instance)
    for (const std::unique_ptr<IpResolver>& r : instance->resolvers_)
      list.push_back(r.get());
  return list;
}

IpResolverMgr::IpResolverMgr() : pruneTimer_(this), manager_(FdManager::current())
{
  PLAT_ASSERT(manager_);
  manager_->setRegistered(this, true);
}

IpResolverMgr::~IpResolverMgr()
{
  pruneTimer_.stop();
  for (std::unique_ptr<IpResolver>& r : resolvers_)
    r.reset();
  resolvers_.clear();
  count_ = 0;
  if (manager_)
    manager_->setRegistered(this, false);
}

IpResolver* IpResolverMgr::pick()
{
  IpResolver* best = nullptr;
  int bestCount = 0;
  for (const std::unique_ptr<IpResolver>& r : resolvers_) {
    int n = r->pendingCount();
    if (!best || n < bestCount) {
      best = r.get();
      bestCount = n;
    }
  }
  if (!best || (bestCount > 0 && count_ < kMaxResolvers)) {
    resolvers_.push_back(std::make_unique<IpResolverViaThread>());
    best = resolvers_.back().get();
    count_++;
  }
  pruneTimer_.start(kPruneMs);
  return best;
}

bool IpResolverMgr::timerExpired(plat::Timer*)
{
  for (auto it = resolvers_.begin(); it != resolvers_.end() && count_ >= 2;) {
    if ((*it)->pendingCount() == 0) {
      it = resolvers_.erase(it);
      count_--;
    } else {
      ++it;
    }
  }
  return count_ >= 2;
}

void IpResolverMgr::managerDestroyed()
{
  manager_ = nullptr;
}

} // namespace io
