// The admin-helper channel's body readers over arbitrary bytes: the first
// byte picks the message. What a reader accepts must write back and read
// again to the same value. The helper's messages also go through the
// client's own dispatch, with recorders as its callbacks. Modes 6 and 7 feed
// the rest as wire bytes, arriving a byte at a time, into the helper's and
// the client's own channels: the helper's effects (commands, settings) are
// replaced by a recorder that checks what it would have done, and the
// client's user is a recorder that checks what it is told.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "fuzz_io.h"
#include "fuzz_util.h"
#include "os/AppLoop.h"
#include "plat/Exception.h"
#include "plat/utf8.h"
#include "product/init.h"
#include "rdr/MemInStream.h"
#include "rdr/FramedInStream.h"
#include "rdr/MemOutStream.h"
#include "rdr/tests/TrickleInStream.h"
#include "tlOrbSetup/AdminHelper.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/AdminHelperMsgs.h"

namespace am = tlOrbSetup::adminmsg;

namespace {

void runCmd(rdr::InStream& in)
{
  std::vector<am::FileDigest> files, filesBack;
  std::vector<plat::String> args = am::readRunCmd(in, &files);
  FUZZ_CHECK(!args.empty() && args.size() <= (size_t)am::kMaxArgs);
  rdr::MemOutStream out;
  am::writeRunCmd(out, args, files); // refuses a digest of no argument
  rdr::MemInStream again(out.data(), (int)out.length());
  std::vector<plat::String> back = am::readRunCmd(again, &filesBack);
  FUZZ_CHECK(back.size() == args.size() && filesBack.size() == files.size());
  for (size_t i = 0; i < args.size(); i++)
    FUZZ_CHECK(back[i] == args[i]);
  for (size_t i = 0; i < files.size(); i++)
    FUZZ_CHECK(!memcmp(&filesBack[i], &files[i], sizeof(files[i])));
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
    int n = 0;
    am::readRunCmdOutput(in, buf, &n);
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

bool validText(const plat::String& s, int maxBytes)
{
  // Each invalid byte may have become a 3-byte U+FFFD.
  return !s.isNull() && plat::isValidUtf8(s.get()) && s.length() <= 3 * maxBytes;
}

// What the helper would have done.
class Effects : public tlOrbSetup::AdminHelper::EffectsForTest {
public:
  void runCmd(const std::vector<plat::String>& args) override
  {
    FUZZ_CHECK(!args.empty() && args.size() <= (size_t)am::kMaxArgs);
    for (const plat::String& a : args)
      FUZZ_CHECK(validText(a, am::kMaxArgLen));
  }
  void cancelCmd() override {}
  void svrSettings(const plat::CaseInsensitiveStringMap& values) override
  {
    FUZZ_CHECK(values.size() <= (size_t)am::kMaxPairs);
    for (const auto& kv : values)
      FUZZ_CHECK(validText(kv.first, am::kMaxSettingLen) && validText(kv.second, am::kMaxSettingLen));
  }
};

// The wizard's side: one command and one settings request outstanding.
class User : public tlOrbSetup::AdminHelperClient::Callback,
             public tlOrbSetup::AdminHelperClient::RunCmdCallback,
             public tlOrbSetup::AdminHelperClient::SvrSettingsCallback {
public:
  void helperLaunched() override {}
  void helperLaunchFailed(const plat::Exception&) override { dead = true; }
  void result(int, const plat::Exception& e) override
  {
    // One result, nothing after it.
    FUZZ_CHECK(!dead && !cmdDone);
    FUZZ_CHECK(strlen(e.getType()) < plat::Exception::kTypeSize);
    cmdDone = true;
  }
  void output(int length, const char* bytes) override
  {
    FUZZ_CHECK(!dead && !cmdDone && bytes);
    FUZZ_CHECK(length >= 1 && length <= am::kMaxOutputChunk);
  }
  void result(const plat::Exception&) override
  {
    FUZZ_CHECK(!dead && !settingsDone);
    settingsDone = true;
  }
  bool dead = false, cmdDone = false, settingsDone = false;
};

struct Process {
  Process() { product::initAppInfo(nullptr, "fuzzadminhelper", "tlOrbSetup_setupapp_name_r"); }
  os::AppLoop loop;
};

// Feeds the wire bytes one at a time until the channel is shut.
void feed(TrickleInStream& input, MemIo& io, size_t size)
{
  for (size_t i = 0; i < 2 * size + 4 && io.handler; i++) {
    input.arrive(1);
    io.handler->dataAvailable(&io);
  }
  // The stream's end (or an error) ends the connection.
  FUZZ_CHECK(io.shut);
}

void throughHelper(const uint8_t* data, size_t size)
{
  TrickleInStream input(std::string((const char*)data, size));
  auto io = std::make_unique<MemIo>(&input);
  Effects effects;
  tlOrbSetup::AdminHelper helper(io::IoPtr(io.get()));
  helper.setEffectsForTest(&effects);
  feed(input, *io, size);
}

void throughClientChannel(const uint8_t* data, size_t size)
{
  TrickleInStream input(std::string((const char*)data, size));
  auto io = std::make_unique<MemIo>(&input);
  User user;
  tlOrbSetup::AdminHelperClient client(&user);
  client.launched(io::IoPtr(io.get()));
  client.runCmd({plat::String("/bin/true")}, &user);
  client.svrSettings(plat::CaseInsensitiveStringMap(), &user);
  feed(input, *io, size);
  FUZZ_CHECK(user.dead);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > 65536)
    return 0;
  fuzzQuietLogs();
  static Process process;
  if (data[0] % 8 >= 6) {
    if (size > 20000)
      return 0;
    if (data[0] % 8 == 6)
      throughHelper(data + 1, size - 1);
    else
      throughClientChannel(data + 1, size - 1);
    return 0;
  }
  rdr::MemInStream in(data + 1, (int)size - 1);
  try {
    switch (data[0] % 8) {
    case 0:
      runCmd(in);
      break;
    case 1:
      svrSettings(in);
      break;
    default: {
      const char* names[] = {am::kHaveCloudCredsSvr, am::kRunCmdOutput, am::kRunCmdResult,
                             am::kSvrSettingsResult};
      throughClient(names[data[0] % 8 - 2], data + 1, size - 1);
      clientSide(data[0] % 8 - 2, in);
      break;
    }
    }
  } catch (plat::Exception&) {
  }
  return 0;
}
