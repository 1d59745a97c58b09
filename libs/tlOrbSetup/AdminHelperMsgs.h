// The messages between the wizard and its elevated admin helper: names,
// bodies, limits, and one reader and one writer per body.
//
// Readers take the body's stream and either return the whole message or
// throw (rdr::StringTooLongException for an over-long string, plat::Exception
// for any other malformed body, the stream's own errors for a truncated one)
// before anything is acted on, so a caller acts only on complete, valid
// bodies. Writers keep the sender's limits and throw before writing anything
// of a body that would break them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "io/Io.h"
#include "io/MsgIpc.h"
#include "plat/Exception.h"
#include "plat/String.h"
#include "tlutil/ConfigFile.h"

namespace rdr {
class InStream;
class OutStream;
}

namespace tlOrbSetup {
namespace adminmsg {

// Wizard to helper.
constexpr const char* kRunCmd = "RunCmd";
constexpr const char* kRunCmdCancel = "RunCmdCancel";
constexpr const char* kSvrSettings = "SvrSettings";
// Helper to wizard.
constexpr const char* kHaveCloudCredsSvr = "HaveCloudCredsSvr";
constexpr const char* kRunCmdOutput = "RunCmdOutput";
constexpr const char* kRunCmdResult = "RunCmdResult";
constexpr const char* kSvrSettingsResult = "SvrSettingsResult";

constexpr int kMaxArgLen = 1024;
constexpr int kMaxArgs = 255;
constexpr int kMaxSettingLen = 8192;
constexpr int kMaxPairs = 65535;
constexpr int kMaxOutputChunk = 4096;
// The largest message either side accepts on the helper channel.
constexpr int kMaxMsgSize = 1 << 20;

// The connection, its input buffer enlarged to hold kMaxMsgSize bytes (an
// event-driven receiver buffers each message whole).
io::Io* withLargeInput(io::Io* io);
// The same, and its output gathered into writes of up to kWriteBatch bytes:
// the connection of a channel.
constexpr int kWriteBatch = 128 * 1024;
io::IoPtr withChannelBuffers(io::IoPtr io);

// A failure carried over the channel: the peer's message and type tag.
// Both empty means success.
class RemoteError : public plat::Exception {
public:
  RemoteError() : plat::Exception("") {}
  RemoteError(const char* message, const char* type);
  explicit RemoteError(const plat::Exception& e) : RemoteError(e.str(), e.getType()) {}
  bool isSuccess() const { return !*str() && !*getType(); }
};

struct RunCmdResult {
  bool ok = false;
  // Exit code when ok: 0 to 255, minus the signal number, or -1.
  int status = 0;
  RemoteError error;
};

// An argument that names a file of the wizard's session directory which the
// command must see exactly as the wizard wrote it: the helper hands the
// command a private copy whose SHA-256 is sha256, or refuses to run it.
struct FileDigest {
  int arg = 0; // 1 to the argument count - 1
  uint8_t sha256[32] = {};
};
constexpr int kSha256Size = 32;
// The digest of argument arg for a file that holds these bytes.
FileDigest fileDigest(int arg, size_t length, const void* bytes);

// "RunCmd": u8 count, then the strings, program path first; then, when the
// body goes on, the file digests: u8 count, then each as u8 argument index
// and the 32 digest bytes. A body that ends after the strings names none
// (what earlier wizards send; earlier helpers skip the digests unread).
// Refuses an empty list, a program path that is not absolute, a string over
// kMaxArgLen bytes, NUL bytes, and a digest of the program itself, of an
// argument past the end or of one argument twice; invalid UTF-8 becomes
// U+FFFD. Bytes after the digests are left unread.
std::vector<plat::String> readRunCmd(rdr::InStream& in, std::vector<FileDigest>* files = nullptr);
void writeRunCmd(rdr::OutStream& out, const std::vector<plat::String>& args,
                 const std::vector<FileDigest>& files = {});

// "SvrSettings": u16 count, then key and value strings; a later key
// replaces an earlier one that differs only in case. The writer sends the
// encoded device password, when given, last as "Password", from storage
// that is wiped.
constexpr const char* kPasswordSetting = "Password";
void readSvrSettings(rdr::InStream& in, plat::CaseInsensitiveStringMap& out);
void writeSvrSettings(rdr::OutStream& out, const plat::CaseInsensitiveStringMap& values,
                      const plat::SecureString* password = nullptr);

bool readHaveCloudCredsSvr(rdr::InStream& in);
void writeHaveCloudCredsSvr(rdr::OutStream& out, bool have);

// "RunCmdOutput": u16 length (1 to kMaxOutputChunk), then the bytes. The
// reader sets *length and returns the bytes: in the stream's window when
// they lie there in one piece (valid until the stream moves on), else
// copied into buf.
const uint8_t* readRunCmdOutput(rdr::InStream& in, uint8_t (&buf)[kMaxOutputChunk], int* length);
void writeRunCmdOutput(rdr::OutStream& out, const uint8_t* data, int length);
// The same as a whole message on the channel, not flushed.
void sendRunCmdOutput(io::MsgIpc& channel, const uint8_t* data, int length);

// "RunCmdResult": u8 ok; u32 status, or the error's message and tag.
RunCmdResult readRunCmdResult(rdr::InStream& in);
void writeRunCmdResult(rdr::OutStream& out, int status);
void writeRunCmdResult(rdr::OutStream& out, const plat::Exception& error);

// "SvrSettingsResult": message and tag, both empty for success.
RemoteError readSvrSettingsResult(rdr::InStream& in);
void writeSvrSettingsResult(rdr::OutStream& out, const plat::Exception* error);

} // namespace adminmsg
} // namespace tlOrbSetup
