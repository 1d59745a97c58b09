#include "hostedremoteaccess/CloudConfig.h"

#include <sys/stat.h>

#include <vector>

#include "hosted/HostedClientContext.h"
#include "os/dirs.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/Resource.h"

namespace hostedremoteaccess {

const char* const kCloudConfigName = "CloudConfig.pkg";

namespace {

plat::LogSrc vlog("CloudConfig");

plat::MBuf<unsigned char> readFromDisk()
{
  std::vector<plat::String> dirs;
  os::getDataSearchDirs(dirs);
  plat::String path = plat::findFileInDirs(dirs, kCloudConfigName);
  if (path.isNull()) {
    // The usual case: logged as the errors below, without an exception.
    vlog.info("%s file not found", kCloudConfigName);
    return plat::MBuf<unsigned char>();
  }
  vlog.status("Using %s", path.str());
  plat::FilePtr file(path.str(), plat::FilePtr::kRead);
  struct stat st;
  if (fstat(fileno(file), &st) != 0 || st.st_size == 0 || st.st_size > kMaxCloudConfigSize)
    throw plat::Exception(0, "%s has bad size", path.str());
  return file.readAll(kMaxCloudConfigSize);
}

} // namespace

plat::MBuf<unsigned char> readCloudConfig(bool* builtIn)
{
  if (builtIn)
    *builtIn = false;
  plat::MBuf<unsigned char> bytes;
  try {
    bytes = readFromDisk();
  } catch (plat::Exception& e) {
    vlog.info("%s", e.str());
  }
  if (bytes.length() > 0)
    return bytes;
  vlog.status("Getting %s from built-in resource", kCloudConfigName);
  plat::BuiltInResource res = plat::findBuiltInResource(kCloudConfigName);
  if (!res.data)
    throw plat::Exception(0, "%s not available", kCloudConfigName);
  if (builtIn)
    *builtIn = true;
  return plat::MBuf<unsigned char>(static_cast<const unsigned char*>(res.data), (int)res.size);
}

hosted::HostedClientContextPtr loadCloudConfig(os::PersistentStore* store)
{
  bool builtIn;
  plat::MBuf<unsigned char> bytes = readCloudConfig(&builtIn);
  hosted::HostedClientContextPtr context(new hosted::HostedClientContext(
      nullptr, bytes.length(), bytes.data(), store, nullptr, nullptr, nullptr,
      builtIn ? hosted::VendorConfig::Certificates::kParseWhenUsed
              : hosted::VendorConfig::Certificates::kParseNow));
  vlog.status("Using business identifier %s", context->businessId());
  return context;
}

} // namespace hostedremoteaccess
