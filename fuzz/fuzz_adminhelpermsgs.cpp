// The admin-helper channel's body readers over arbitrary bytes: the first
// byte picks the message. What a reader accepts must write back and read
// again to the same value. The helper's messages also go through the
// client's own dispatch, with recorders as its callbacks.
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_util.h"
#include "plat/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/FramedInStream.h"
#include "rdr/MemOutStream.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/AdminHelperMsgs.h"

namespace am = tlOrbSetup::adminmsg;

namespace {

void runCmd(rdr::InStream& in)
{
  std::vector<plat::String> args = am::readRunCmd(in);
  FUZZ_CHECK(!args.empty() && args.size() <= (size_t)am::kMaxArgs);
  rdr::MemOutStream out;
  am::writeRunCmd(out, args);
  rdr::MemInStream again(out.data(), (int)out.length());
  std::vector<plat::String> back = am::readRunCmd(again);
  FUZZ_CHECK(back.size() == args.size());
  for (size_t i = 0; i < args.size(); i++)
    FUZZ_CHECK(back[i] == args[i]);
}

void svrSettings(rdr::InStream& in)
{
  plat::CaseInsensitiveStringMap values;
  am::readSvrSettings(in, values);
  rdr::MemOutStream out;
  am::writeSvrSettings(out, values);
  rdr::MemInStream again(out.data(), (int)out.length());
  plat::CaseInsensitiveStringMap back;
  am::readSvrSettings(again, back);
  FUZZ_CHECK(back == values);
}

class Recorder : public tlOrbSetup::AdminHelperClient::Callback,
                 public tlOrbSetup::AdminHelperClient::RunCmdCallback,
                 public tlOrbSetup::AdminHelperClient::SvrSettingsCallback {
public:
  void helperLaunched() override {}
  void helperLaunchFailed(const plat::Exception&) override {}
  void result(int, const plat::Exception&) override { results++; }
  void output(int length, const char*) override { FUZZ_CHECK(length >= 1 && length <= am::kMaxOutputChunk); }
  void result(const plat::Exception&) override { results++; }
  int results = 0;
};

// The body as one message through the client's reader.
void throughClient(const char* name, const uint8_t* body, size_t size)
{
  if (size > 0x7fff)
    return;
  std::string frame{(char)(0x80 | (size >> 8)), (char)(size & 0xff)};
  frame.append((const char*)body, size);
  rdr::MemInStream mem(frame.data(), (int)frame.size());
  rdr::InStreamV4 in(&mem);
  in.startMsg(true);
  Recorder rec;
  tlOrbSetup::AdminHelperClient client(&rec);
  try {
    client.readMsg(name, in, nullptr);
  } catch (plat::Exception&) {
  }
  FUZZ_CHECK(rec.results == 0); // nothing was asked
}

void clientSide(int which, rdr::InStream& in)
{
  switch (which) {
  case 0:
    am::readHaveCloudCredsSvr(in);
    break;
  case 1: {
    uint8_t buf[am::kMaxOutputChunk];
    int n = am::readRunCmdOutput(in, buf);
    FUZZ_CHECK(n >= 1 && n <= am::kMaxOutputChunk);
    break;
  }
  case 2: {
    am::RunCmdResult r = am::readRunCmdResult(in);
    FUZZ_CHECK(strlen(r.error.getType()) < plat::Exception::kTypeSize);
    FUZZ_CHECK(!r.ok || r.error.isSuccess());
    break;
  }
  default:
    am::readSvrSettingsResult(in);
    break;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > 65536)
    return 0;
  fuzzQuietLogs();
  rdr::MemInStream in(data + 1, (int)size - 1);
  try {
    switch (data[0] % 6) {
    case 0:
      runCmd(in);
      break;
    case 1:
      svrSettings(in);
      break;
    default: {
      const char* names[] = {am::kHaveCloudCredsSvr, am::kRunCmdOutput, am::kRunCmdResult,
                             am::kSvrSettingsResult};
      throughClient(names[data[0] % 6 - 2], data + 1, size - 1);
      clientSide(data[0] % 6 - 2, in);
      break;
    }
    }
  } catch (plat::Exception&) {
  }
  return 0;
}
