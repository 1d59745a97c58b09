#include "hostedremoteaccess/CapsClient.h"

#include <string.h>
#include <strings.h>

#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/numbers.h"

namespace hostedremoteaccess {

namespace {

plat::LogSrc vlog("CapsClient");

const char* const kKindNames[CapsClient::kKindCount] = {
    "enterprise/auth-uris", "enterprise/directory-uris", "enterprise/graphql-uris",
    "enterprise/presence-uris"};

} // namespace

CapsClient::CapsClient(const hosted::HostedClientContextPtr& context,
                       hosted::HostedHttpSession* httpSession)
    : context_(context), httpSession_(httpSession),
      maxBackoffSecs_((int)context->vendorConfig().bootstrapConfig().maxBackoffSecs())
{
}

const char* CapsClient::kindName(unsigned kind)
{
  bool key = kind < kKindCount;
  PLAT_ASSERT(key);
  return kKindNames[kind];
}

unsigned CapsClient::kindFromName(const char* name)
{
  int i = -1;
  for (unsigned k = 0; name && k < kKindCount && i == -1; k++)
    if (strcasecmp(name, kKindNames[k]) == 0)
      i = (int)k;
  PLAT_ASSERT(i != -1);
  return (unsigned)i;
}

const char* CapsClient::getUrl(unsigned kind) const
{
  kindName(kind);
  return urls_[kind].get();
}

void CapsClient::clearUrl(unsigned kind)
{
  kindName(kind);
  urls_[kind] = plat::String();
}

void CapsClient::recordUrl(unsigned kind, const char* url, int maxBackoffSecs,
                           const Parameters& parameters)
{
  vlog.info("Recording new URL for %s: %s", kindName(kind), url);
  if (plat::strCmpNull(urls_[kind].get(), url) != 0)
    urls_[kind] = plat::String(url);
  maxBackoffSecs_ = maxBackoffSecs;
  parameters_ = parameters;
  // An observer may change the set from its call.
  std::set<Observer*> observers = observers_;
  for (Observer* o : observers)
    if (observers_.count(o))
      o->capsParametersChanged(parameters_);
}

void CapsClient::setObserver(Observer* observer, bool add)
{
  if (!add) {
    observers_.erase(observer);
    return;
  }
  if (observers_.insert(observer).second && !parameters_.empty())
    observer->capsParametersChanged(parameters_);
}

bool CapsClient::getIntParameter(const Parameters& parameters, const char* name, int* value)
{
  auto it = parameters.find(plat::String(name));
  if (it == parameters.end() || it->second.isNull())
    return false;
  const char* p = it->second.get();
  int v;
  if (!plat::strToInt(&v, &p) || *p != '\0')
    return false;
  *value = v;
  return true;
}

} // namespace hostedremoteaccess
