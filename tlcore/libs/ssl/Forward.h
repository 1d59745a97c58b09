// Forward declarations of the TLS layer's classes and its shared handles.
#pragma once

#include "plat/SharedHandle.h"

namespace ssl {

class SslCertificate;
class MbedTlsCertificate;
class SslPrivateKey;
class MbedTlsPrivateKey;
class SslCertLookup;
class SslCertLookupCustom;
class SslCertLookupSystemFile;
class SslTrustManager;
class MbedTlsTrustManager;
class SslVerifier;
class SslException;

using SslCertificatePtr = plat::SharedHandle<SslCertificate>;
using SslPrivateKeyPtr = plat::SharedHandle<SslPrivateKey>;

} // namespace ssl
