#include "smisc/CtrlCommsClientHelper.h"

#include <string.h>

#include "os/UnixIo.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "rdr/FramedInStream.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "score/Mode.h"

namespace smisc {

namespace {

const char* const kReplies[] = {"channelCreds", "getConfigReply", "getConnectionsReply"};

class ServerTimedOut : public plat::TimedOut {
public:
  ServerTimedOut()
  {
    setMessage("Timed out waiting for response from ZARN Server");
    setType("TimedOut");
  }
};

int timeoutMs = CtrlCommsClientHelper::kTimeoutMs;

} // namespace

#ifdef TL_TEST_HOOKS
void CtrlCommsClientHelper::setTimeoutForTest(int ms)
{
  timeoutMs = ms > 0 ? ms : kTimeoutMs;
}
#endif

CtrlCommsClientHelper::CtrlCommsClientHelper(const char* pipePath, uint32_t expectedUid)
{
  connect(pipePath, expectedUid);
}

CtrlCommsClientHelper::CtrlCommsClientHelper()
{
  try {
    bool service = score::currentMode() == score::kModeService;
    uid_t uid;
    os::parseUid(uid, service ? "0" : nullptr);
    plat::String path = os::makeNamedPipePath("CtrlComms", service ? "zarnservice" : nullptr,
                                              nullptr, 0, 0);
    connect(path.get(), uid);
  } catch (plat::Exception& e) {
    channel_.reset();
    throw plat::ExceptionFmt("Contacting ZARN Server failed: %s", e.str());
  }
}

CtrlCommsClientHelper::~CtrlCommsClientHelper()
{
  channel_.reset();
}

void CtrlCommsClientHelper::connect(const char* pipePath, uint32_t expectedUid)
{
  // Another user's folder could hold a pipe of theirs that never answers.
  os::checkNamedPipeDir(pipePath, expectedUid);
  channel_ = std::make_unique<io::MsgIpc>(nullptr, "CtrlCommsClient", io::MsgIpcFlags::kSync);
  io::IoPtr io(new os::UnixIo(pipePath, -1, false, timeoutMs));
  io->setTimeout(timeoutMs);
  channel_->ioAccept(std::move(io));
  expectedUid_ = expectedUid;
  verifyChannel();
}

void CtrlCommsClientHelper::verifyChannel()
{
  attachIpc(channel_.get());
  for (const char* name : kReplies)
    channel_->addReader(name, this);
  sendEmpty("verifyChannel");
  waitFor("channelCreds");
  PLAT_ASSERT(gotValidCreds_);
}

void CtrlCommsClientHelper::waitFor(const char* name)
{
  try {
    channel_->readUntil(name);
  } catch (plat::TimedOut&) {
    throw ServerTimedOut();
  }
}

void CtrlCommsClientHelper::sendEmpty(const char* name)
{
  channel_->writeMsg(name).endMsg(true);
}

void CtrlCommsClientHelper::showStatus()
{
  sendEmpty("showStatus");
}

void CtrlCommsClientHelper::showStatusDialog()
{
  sendEmpty("showStatusDialog");
}

void CtrlCommsClientHelper::reload()
{
  sendEmpty("reload");
}

void CtrlCommsClientHelper::stop()
{
  sendEmpty("stop");
}

void CtrlCommsClientHelper::getConnections()
{
  sendEmpty("getConnections");
}

void CtrlCommsClientHelper::disconnClient(const char* first, const char* second)
{
  rdr::FramedOutStream& out = channel_->writeMsg("disconnClient");
  out.writeShortString(first);
  out.writeShortString(second);
  out.endMsg(true);
}

void CtrlCommsClientHelper::getConfig(const char* name)
{
  rdr::FramedOutStream& out = channel_->writeMsg("getConfig");
  out.writeShortString(name);
  out.endMsg(true);
}

void CtrlCommsClientHelper::setConfig(const plat::CaseInsensitiveStringMap& values)
{
  rdr::FramedOutStream& out = channel_->writeMsg("setConfig");
  plat::writeConfigLines(out, values);
  out.endMsg(true);
}

void CtrlCommsClientHelper::readConfigReply(rdr::InStream& in, plat::CaseInsensitiveStringMap& out)
{
  out.clear();
  plat::readConfigLines(in, out, nullptr);
}

void CtrlCommsClientHelper::readConnectionsReply(rdr::InStream& in,
                                                 std::vector<ConnectionInfo>& out)
{
  std::vector<ConnectionInfo> list;
  for (unsigned n = in.readU16(); n > 0; n--) {
    ConnectionInfo info;
    for (plat::String& field : info.fields)
      field = in.readShortString(true);
    list.push_back(std::move(info));
  }
  out.swap(list);
}

bool CtrlCommsClientHelper::readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc* channel)
{
  if (strcmp(name, "channelCreds") == 0) {
    os::namedPipeCredCheck(channel->getIpc().getIo(), expectedUid_);
    gotValidCreds_ = true;
  } else if (strcmp(name, "getConfigReply") == 0) {
    // The lines run to the end of the message.
    rdr::MemOutStream body;
    while (!in.atEnd()) {
      in.check(true, 1);
      body.writeBytes(in.getPtr(), in.nUnread());
      in.consume(in.nUnread());
    }
    rdr::MemInStream bodyIn(body.data(), (int)body.length());
    readConfigReply(bodyIn, config_);
  } else if (strcmp(name, "getConnectionsReply") == 0) {
    readConnectionsReply(in, connections_);
  }
  return true;
}

} // namespace smisc
