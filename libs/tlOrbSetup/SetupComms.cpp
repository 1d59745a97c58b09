#include "tlOrbSetup/SetupComms.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "io/Endpoint.h"
#include "loc/Localize.h"
#include "os/NamedPipeListener.h"
#include "os/UnixIo.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Time.h"
#include "product/addresses.h"
#include "product/init.h"
#include "rdr/FramedInStream.h"
#include "rdr/FramedOutStream.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("SetupComms");

int clientTimeoutMs = SetupCommsClient::kTimeoutMs;

} // namespace

plat::String setupCommsPath()
{
  return os::makeNamedPipePath("SetupComms", nullptr, nullptr, 0, -1);
}

// --- Server ----------------------------------------------------------------------

SetupComms::SetupComms(FrontEnd::Window& window) : window_(window), channel_(nullptr, "SetupComms")
{
  channel_.addReader("uri", this);
  channel_.addReader("fg", this);
  os::NamedPipeListener::Config config;
  config.path = setupCommsPath();
  config.ownerOnly = true;
  listener_ = std::make_unique<os::NamedPipeListener>(config);
  listener_->setAcceptor(this);
  vlog.status("Listening on %s", listener_->getPath());
}

SetupComms::~SetupComms()
{
  channel_.removeReader(this);
}

const char* SetupComms::getPath() const
{
  return listener_->getPath();
}

void SetupComms::ioAccept(io::IoPtr conn)
{
  vlog.info("Got connection");
  conn.setOnReset(io::Shutdown::kDrop);
  io::Io* io = conn.get();
  try {
    io->out()->writeU32(kSetupCommsVersion);
    io->out()->flush();
  } catch (plat::Exception& e) {
    // The client left before the version word reached it.
    char text[plat::Exception::kMessageSize];
    vlog.error("Dropped a connection: %s", e.formatDisplay(text));
    return;
  }
  channel_.close(false);
  channel_.ioAccept(io::IoPtr(conn.release()));
}

bool SetupComms::readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc*)
{
  // The whole body first, up to the end its frames promise: a read that
  // would block starts the call again, so a message cut off is never acted
  // on.
  plat::String uri;
  bool isUri = strcmp(name, "uri") == 0;
  if (isUri)
    uri = in.readString(kMaxSetupCommsUri, true);
  while (!in.atEnd()) {
    if (in.nUnread() == 0)
      in.check(true, 1);
    in.consume(in.nUnread());
  }
  window_.raiseAndActivate();
  if (isUri) {
    try {
      window_.handleUri(uri.str());
    } catch (plat::Exception& e) {
      char text[plat::Exception::kMessageSize];
      vlog.error("Error handling URI '%s': %s", uri.str(), e.formatDisplay(text));
    }
  }
  return true;
}

// --- Client ----------------------------------------------------------------------

SetupCommsClient::SetupCommsClient(const char* path)
{
  plat::String defaultPath;
  if (!path) {
    defaultPath = setupCommsPath();
    path = defaultPath.str();
  }
  channel_ = std::make_unique<io::MsgIpc>(nullptr, "SetupCommsClient", io::MsgIpcFlags::kSync);
  plat::Time start = plat::getMonoTime();
  io::IoPtr conn(new os::UnixIo(path, -1, false, clientTimeoutMs), io::Shutdown::kDrop);
  // What the connect left of the time-out bounds the rest.
  plat::Time left = clientTimeoutMs - (plat::getMonoTime() - start) / plat::kTicksPerMilli;
  conn.get()->setTimeout((int)std::max<plat::Time>(1, left));
  uint32_t version = conn.get()->in()->readU32();
  if (version != kSetupCommsVersion)
    throw plat::ExceptionFmt("SetupComms version mismatch %x instead of %x", version,
                             kSetupCommsVersion);
  os::namedPipeCredCheck(conn.get(), geteuid());
  channel_->ioAccept(io::IoPtr(conn.release()));
}

#ifdef TL_TEST_HOOKS
void SetupCommsClient::setTimeoutForTest(int ms)
{
  clientTimeoutMs = ms > 0 ? ms : kTimeoutMs;
}
#endif

SetupCommsClient::~SetupCommsClient()
{
  close();
}

void SetupCommsClient::send(const char* name, const char* body)
{
  rdr::FramedOutStream& out = channel_->writeMsg(name);
  if (body)
    out.writeString(body);
  out.endMsg(true);
}

void SetupCommsClient::close()
{
  channel_.reset();
}

// --- The "-uri" mode -------------------------------------------------------------

int uriHandlerMain(int argc, char** argv)
{
  try {
    product::initAppInfo(argc > 0 ? argv[0] : nullptr, "tlzarnconnectsetup",
                         "tlOrbSetup_setupapp_name_r");
    const char* uri = argc > 2 ? argv[2] : "";
    io::EndpointUri parsed(uri);
    if (strcmp(parsed.scheme.str(), product::kUriScheme) != 0)
      throw plat::ExceptionFmt("Unsupported URI scheme %s", parsed.scheme.str());
    SetupCommsClient client;
    client.send("uri", uri);
    client.close();
    return 0;
  } catch (plat::Exception& e) {
    plat::String text = loc::formatArgs(LOC_TR_RAW("tlOrbSetup_urihandler_error_fmt"), e.str());
    FrontEnd::get().showError(text.str());
    return 1;
  }
}

} // namespace tlOrbSetup
