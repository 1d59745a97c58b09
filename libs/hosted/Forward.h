// Forward declarations of the hosted client's classes.
#pragma once

namespace plat {
template <class T> class SharedHandle;
} // namespace plat

namespace hosted {

class BedValue;
class BedInt;
class BedBool;
class BedTime;
class BedString;
class BedOpaque;
class BedMap;
class BedSeq;
class BedUnknown;
class BedWriter;
class BedReader;
class BedFormatter;
class BedException;
class BedBadType;
typedef plat::SharedHandle<BedValue> BedValuePtr;

class HostedException;
class HostedBootstrapException;

class PackageReader;
class PackageWriter;
class PackageException;

class BootstrapConfig;
class VendorConfig;
class BootstrapCache;
class BootstrapProgress;
class HostedClientContext;
class HostedBootstrapInfo;
class HostedBootstrapInfoCallback;
class HostedHttpSession;
class HostedRequest;
class HostedRequestCallback;
class HostedFormatCallback;
class HostedSslFactory;
class BootstrapRequest;
class BootstrapRequestCallback;
class BootstrapClient;
class HostedBootstrap;
class HostedBootstrapCallback;

} // namespace hosted
