#include "ssl/SslCertLookup.h"

#include <unistd.h>

#include <set>
#include <vector>

#include "os/dirs.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/Resource.h"

namespace ssl {

namespace {

plat::LogSrc vlog("SslCertLookupSystemFile");

const char kBundleName[] = "cacerts.pem";

std::string key(int length, const unsigned char* der)
{
  return std::string(reinterpret_cast<const char*>(der), length);
}

} // namespace

SslCertLookup::~SslCertLookup() = default;

SslCertificatePtr SslCertLookupCustom::find(int length, const unsigned char* subjectDer)
{
  auto it = certs_.find(key(length, subjectDer));
  return it == certs_.end() ? SslCertificatePtr() : it->second;
}

void SslCertLookupCustom::addCert(const SslCertificatePtr& cert)
{
  certs_[key(cert->subjectDer().length(), cert->subjectDer().data())] = cert;
}

void SslCertLookupCustom::addCertsFromPem(int length, const char* pem)
{
  for (const SslCertificatePtr& cert : parsePemCertificates(length, pem))
    addCert(cert);
}

std::unique_ptr<SslCertLookup> SslCertLookupSystemFile::create()
{
  return std::make_unique<SslCertLookupSystemFile>();
}

SslCertificatePtr SslCertLookupSystemFile::find(int length, const unsigned char* subjectDer)
{
  reload();
  return SslCertLookupCustom::find(length, subjectDer);
}

void SslCertLookupSystemFile::reload()
{
  plat::Time now = plat::getMonoTime();
  if (now < nextReload_)
    return;
  // Set first: a failing reload is not retried before the interval.
  nextReload_ = now + kReloadInterval;
  clear();

  std::vector<plat::String> dirs;
  os::getDataSearchDirs(dirs);
  plat::String path;
  for (const plat::String& dir : dirs) {
    plat::String candidate = plat::joinPath(dir.str(), kBundleName, false);
    if (access(candidate.str(), F_OK) == 0) {
      path = candidate;
      break;
    }
  }

  plat::MBuf<unsigned char> fileBytes;
  const char* bytes;
  int size;
  plat::String description;
  if (!path.isNull()) {
    plat::checkSecurePath(path.str(), std::set<uid_t>{0, geteuid()});
    plat::FilePtr file(path.str(), plat::FilePtr::kRead);
    fileBytes = file.readAll(kMaxFileSize);
    bytes = reinterpret_cast<const char*>(fileBytes.data());
    size = fileBytes.length();
    description = path;
  } else {
    plat::BuiltInResource res = plat::findBuiltInResource(kBundleName);
    if (!res.data)
      throw plat::Exception(0, "No trusted certs file or resource '%s' found", kBundleName);
    bytes = static_cast<const char*>(res.data);
    size = (int)res.size;
    description = plat::String(plat::DString::format("Built-in resource %s", kBundleName).get());
  }
  vlog.info("Using trusted certs from '%s'", description.str());
  try {
    addCertsFromPem(size, bytes);
  } catch (const plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.error("Failed to get trusted certs: %s", e.formatDisplay(text));
  }
}

} // namespace ssl
