// Where the cloud configuration package comes from: the first
// "CloudConfig.pkg" in the data search directories, else the program's
// built-in copy, and the hosted client context built from these bytes.
// Event-loop thread.
#pragma once

#include "hosted/HostedClientContext.h"
#include "plat/MBuf.h"

namespace hostedremoteaccess {

// "CloudConfig.pkg".
extern const char* const kCloudConfigName;
// The largest package read from disk.
constexpr int kMaxCloudConfigSize = 1048576;

// The package bytes. A missing, empty, oversized or unreadable file is only
// logged and the built-in copy used (builtIn, when given, tells which);
// without one, plat::Exception "%s not available" (the file name). Log
// source "CloudConfig".
plat::MBuf<unsigned char> readCloudConfig(bool* builtIn = nullptr);

// The hosted client context built from those bytes over store (may be
// null); logs "Using business identifier %s". Package errors are raised;
// the built-in copy's certificates are parsed when first used.
hosted::HostedClientContextPtr loadCloudConfig(os::PersistentStore* store = nullptr);

} // namespace hostedremoteaccess
