#include "tlOrbSetup/AdminHelperMsgs.h"

#include <string.h>

#include <algorithm>
#include <string>

#include "crypto/Sha.h"
#include "io/Io.h"
#include "plat/utf8.h"
#include "rdr/BufferedInStream.h"
#include "rdr/BufferedOutStream.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace tlOrbSetup {
namespace adminmsg {

RemoteError::RemoteError(const char* message, const char* type) : plat::Exception(message)
{
  setType(type ? type : "");
}

io::Io* withLargeInput(io::Io* io)
{
  // The whole message on the wire, frame headers included, must fit.
  if (auto* buffered = dynamic_cast<rdr::BufferedInStream*>(io->in()))
    buffered->growBuffer(kMaxMsgSize);
  return io;
}

io::IoPtr withChannelBuffers(io::IoPtr io)
{
  withLargeInput(io.get());
  // Command output goes out as many small messages and one flush per batch;
  // what went out is wiped, since "SvrSettings" carries the device password.
  if (auto* buffered = dynamic_cast<rdr::BufferedOutStream*>(io->out())) {
    buffered->setWriteBatch(kWriteBatch);
    buffered->setSecure(true);
  }
  return io;
}

namespace {

// A string argument: NUL bytes would silently cut it at exec, so they are
// refused rather than repaired.
plat::String readArg(rdr::InStream& in)
{
  uint32_t len = in.readU32();
  if (len > (uint32_t)kMaxArgLen)
    throw rdr::StringTooLongException();
  std::string bytes(len, '\0');
  in.readBytes(&bytes[0], (int)len);
  if (memchr(bytes.data(), 0, len))
    throw plat::Exception("RunCmd argument contains a NUL byte");
  plat::String s(bytes.data(), (int)len);
  if (!plat::isValidUtf8(s.get())) {
    s = plat::utf8Sanitise(s.get(), nullptr, -1);
    if (s.isNull())
      s = plat::String("");
  }
  return s;
}

} // namespace

FileDigest fileDigest(int arg, size_t length, const void* bytes)
{
  FileDigest f;
  f.arg = arg;
  crypto::Sha sha(256, false);
  // In pieces: the digest takes int lengths.
  const char* p = static_cast<const char*>(bytes);
  for (size_t done = 0; done < length;) {
    int n = (int)std::min(length - done, (size_t)1 << 30);
    sha.update(n, p + done);
    done += (size_t)n;
  }
  sha.final(f.sha256, kSha256Size);
  return f;
}

namespace {

void checkFileDigests(const std::vector<FileDigest>& files, size_t argCount)
{
  std::vector<bool> seen(argCount, false);
  for (const FileDigest& f : files) {
    if (f.arg < 1 || (size_t)f.arg >= argCount || seen[f.arg])
      throw plat::ExceptionFmt("RunCmd file digest for argument %d of %zu", f.arg, argCount);
    seen[f.arg] = true;
  }
}

} // namespace

std::vector<plat::String> readRunCmd(rdr::InStream& in, std::vector<FileDigest>* files)
{
  int n = in.readU8();
  if (n == 0)
    throw plat::Exception("RunCmd without a program");
  std::vector<plat::String> args;
  args.reserve(n);
  for (int i = 0; i < n; i++)
    args.push_back(readArg(in));
  // Never looked up on a PATH: the launcher takes absolute paths only.
  if (args[0].get()[0] != '/')
    throw plat::Exception("RunCmd program is not an absolute path");
  std::vector<FileDigest> digests;
  if (!in.atEnd()) {
    int k = in.readU8();
    digests.resize(k);
    for (FileDigest& f : digests) {
      f.arg = in.readU8();
      in.readBytes(f.sha256, kSha256Size);
    }
    checkFileDigests(digests, args.size());
  }
  if (files)
    files->swap(digests);
  return args;
}

void writeRunCmd(rdr::OutStream& out, const std::vector<plat::String>& args,
                 const std::vector<FileDigest>& files)
{
  if (args.empty() || args.size() > (size_t)kMaxArgs)
    throw plat::ExceptionFmt("RunCmd takes 1 to %d arguments, not %zu", kMaxArgs, args.size());
  for (const plat::String& a : args)
    if (a.length() > kMaxArgLen)
      throw plat::ExceptionFmt("RunCmd argument longer than %d bytes", kMaxArgLen);
  checkFileDigests(files, args.size());
  out.writeU8((uint8_t)args.size());
  for (const plat::String& a : args)
    out.writeString(a.get());
  if (files.empty())
    return;
  out.writeU8((uint8_t)files.size());
  for (const FileDigest& f : files) {
    out.writeU8((uint8_t)f.arg);
    out.writeBytes(f.sha256, kSha256Size);
  }
}

void readSvrSettings(rdr::InStream& in, plat::CaseInsensitiveStringMap& out)
{
  plat::CaseInsensitiveStringMap values;
  int n = in.readU16();
  for (int i = 0; i < n; i++) {
    plat::String key = in.readString(kMaxSettingLen, true);
    plat::String value = in.readString(kMaxSettingLen, true);
    values.erase(key);
    values.emplace(std::move(key), std::move(value));
  }
  out.swap(values);
}

void writeSvrSettings(rdr::OutStream& out, const plat::CaseInsensitiveStringMap& values,
                      const plat::SecureString* password)
{
  const size_t pairs = values.size() + (password ? 1 : 0);
  if (pairs > (size_t)kMaxPairs)
    throw plat::ExceptionFmt("SvrSettings takes at most %d pairs", kMaxPairs);
  for (const auto& kv : values)
    if (kv.first.length() > kMaxSettingLen || kv.second.length() > kMaxSettingLen)
      throw plat::ExceptionFmt("Setting '%s' longer than %d bytes", kv.first.get(), kMaxSettingLen);
  if (password && password->length() > kMaxSettingLen)
    throw plat::ExceptionFmt("Setting '%s' longer than %d bytes", kPasswordSetting, kMaxSettingLen);
  out.writeU16((uint16_t)pairs);
  for (const auto& kv : values) {
    out.writeString(kv.first.get());
    out.writeString(kv.second.get());
  }
  if (password) {
    out.writeString(kPasswordSetting);
    out.writeString(password->str());
  }
}

bool readHaveCloudCredsSvr(rdr::InStream& in)
{
  return in.readU8() != 0;
}

void writeHaveCloudCredsSvr(rdr::OutStream& out, bool have)
{
  out.writeU8(have ? 1 : 0);
}

const uint8_t* readRunCmdOutput(rdr::InStream& in, uint8_t (&buf)[kMaxOutputChunk], int* length)
{
  int n = in.readU16();
  if (n < 1 || n > kMaxOutputChunk)
    throw plat::ExceptionFmt("RunCmdOutput of %d bytes", n);
  const uint8_t* bytes = in.getBytes(buf, n);
  *length = n;
  return bytes;
}

void writeRunCmdOutput(rdr::OutStream& out, const uint8_t* data, int length)
{
  if (length < 1 || length > kMaxOutputChunk)
    throw plat::ExceptionFmt("RunCmdOutput of %d bytes", length);
  out.writeU16((uint16_t)length);
  out.writeBytes(data, length);
}

void sendRunCmdOutput(io::MsgIpc& channel, const uint8_t* data, int length)
{
  if (length < 1 || length > kMaxOutputChunk)
    throw plat::ExceptionFmt("RunCmdOutput of %d bytes", length);
  const uint8_t size[2] = {(uint8_t)(length >> 8), (uint8_t)length};
  channel.writeMsg(kRunCmdOutput, {{size, 2}, {data, length}});
}

RunCmdResult readRunCmdResult(rdr::InStream& in)
{
  RunCmdResult r;
  int ok = in.readU8();
  if (ok > 1)
    throw plat::ExceptionFmt("RunCmdResult with ok %d", ok);
  r.ok = ok == 1;
  if (r.ok) {
    r.status = (int)in.readU32();
  } else {
    plat::String message = in.readShortString(true);
    plat::String type = in.readShortString(true);
    r.error = RemoteError(message.get(), type.get());
  }
  return r;
}

void writeRunCmdResult(rdr::OutStream& out, int status)
{
  out.writeU8(1);
  out.writeU32((uint32_t)status);
}

void writeRunCmdResult(rdr::OutStream& out, const plat::Exception& error)
{
  out.writeU8(0);
  out.writeShortString(error.str());
  out.writeShortString(error.getType());
}

RemoteError readSvrSettingsResult(rdr::InStream& in)
{
  plat::String message = in.readShortString(true);
  plat::String type = in.readShortString(true);
  return RemoteError(message.get(), type.get());
}

void writeSvrSettingsResult(rdr::OutStream& out, const plat::Exception* error)
{
  out.writeShortString(error ? error->str() : "");
  out.writeShortString(error ? error->getType() : "");
}

} // namespace adminmsg
} // namespace tlOrbSetup
