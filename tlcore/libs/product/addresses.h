// The maker's addresses that the program must choose itself, all in the
// reserved ".example" domain, in one place.
#pragma once

namespace product {

// The maker's web site; `_ProductUri` defaults to it and the documentation
// address lies below it.
inline constexpr char kWebSite[] = "https://www.daziziz.example";
// The download server's base for package files (the default of `_UriBase`).
inline constexpr char kDownloadBase[] = "https://download.daziziz.example/download/file/";
// The URI scheme of the sign-in callback: registered with the desktop, sent
// on by the "-uri" forwarder and handed to the wizard. Lower case.
inline constexpr char kUriScheme[] = "example.daziziz.setup";

// The hosted services' portal, bootstrap and first discovery addresses,
// written into the project's own cloud configuration package.
inline constexpr char kPortal[] = "https://portal.daziziz.example";
inline constexpr char kBootstrap[] = "https://bootstrap.daziziz.example/btp/";
inline constexpr char kDiscovery[] = "https://discovery.daziziz.example/";

} // namespace product
