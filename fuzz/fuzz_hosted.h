// Helpers shared by the hosted client's fuzz targets.
#pragma once

#include "hosted/VendorConfig.h"
#include "plat/Resource.h"

// The vendor configuration of the built-in cloud configuration package,
// made once and kept for the process.
inline const hosted::VendorConfig& builtInVendorConfig()
{
  static const hosted::VendorConfig* vendor = [] {
    plat::BuiltInResource r = plat::findBuiltInResource("CloudConfig.pkg");
    return new hosted::VendorConfig((int)r.size, r.data);
  }();
  return *vendor;
}
