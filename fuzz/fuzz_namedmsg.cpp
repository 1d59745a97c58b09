// A named-message receiver fed arbitrary bytes, without sockets: once as a
// synchronous channel reading message after message from the whole input,
// once event-driven with the bytes arriving one at a time. Neither may
// crash or hang; every failure must end as an exception from readMessage or
// as a closed connection that the owner was told about.
//
// The first byte chooses the channel's options; the rest is the stream.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_io.h"
#include "io/MsgIpc.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/tests/TrickleInStream.h"

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

class Owner : public io::MsgIpc::Callback {
public:
  void closed(io::MsgIpc*) override { closedCalls++; }
  bool allowed(io::MsgIpc*, const char* name, bool) override { return strcmp(name, "No") != 0; }
  void error(io::MsgIpc* ipc, const plat::Exception&) override
  {
    check(!ipc->isConnected());
    errors++;
  }
  int closedCalls = 0;
  int errors = 0;
};

// One reader for every name, behaving by name.
class Readers : public io::MsgIpc::Reader {
public:
  Readers(io::MsgIpc& channel, bool withDefault)
  {
    attachIpc(&channel);
    for (const char* n : {"Str", "Ints", "Skip", "Twice", "Bad", "Close"})
      channel.addReader(n, this);
    if (withDefault)
      channel.addReader(nullptr, this);
  }
  bool readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc* channel) override
  {
    if (!strcmp(name, "Str")) {
      sum += in.readString(4096, true).length();
    } else if (!strcmp(name, "Ints")) {
      for (int n = in.readU8(); n > 0; n--)
        sum += in.readU32();
    } else if (!strcmp(name, "Twice")) {
      if (!twice) {
        twice = true;
        return false;
      }
      twice = false;
      sum += in.readU16();
    } else if (!strcmp(name, "Bad")) {
      throw plat::Exception("rejected");
    } else if (!strcmp(name, "Close")) {
      channel->close(true);
    } else if (strcmp(name, "Skip") != 0) {
      sum += in.readU8();
    }
    return true;
  }
  uint64_t sum = 0;
  bool twice = false;
};

void configure(io::MsgIpc& ipc, uint8_t flags)
{
  ipc.setReplyBadMsg(flags & 1);
  ipc.setCloseOnGarbledName(flags & 2);
}

void runSync(uint8_t flags, const uint8_t* data, size_t size)
{
  rdr::MemInStream input(data, (int)size);
  MemIo io(&input);
  Owner owner;
  io::MsgIpc ipc(&owner, "Fuzz", io::MsgIpcFlags::kSync);
  configure(ipc, flags);
  Readers readers(ipc, flags & 4);
  ipc.ioAccept(io::IoPtr(&io));
  // Every message consumes at least its header, so this many reads reach
  // the end.
  for (size_t i = 0; i <= size / 2 + 1; i++) {
    try {
      ipc.readMessage(flags & 8 ? "Str" : nullptr);
    } catch (rdr::EndOfStream&) {
      return;
    } catch (plat::Exception& e) {
      if (!ipc.isConnected() || strstr(e.str(), "not in state startMsg"))
        return;
    }
  }
  abort(); // a read that consumed nothing
}

void runEventDriven(uint8_t flags, const uint8_t* data, size_t size)
{
  TrickleInStream input(std::string((const char*)data, size));
  MemIo io(&input);
  Owner owner;
  io::MsgIpc ipc(&owner, "Fuzz");
  configure(ipc, flags);
  Readers readers(ipc, flags & 4);
  ipc.ioAccept(io::IoPtr(&io));
  check(io.handler != nullptr);
  // Readers that ask to be called again ("Twice") need a second call each.
  for (size_t i = 0; i < 2 * size + 4 && io.handler; i++) {
    input.arrive(1);
    io.handler->dataAvailable(&io);
  }
  // After the last byte the stream's end (or an error) closes the channel.
  check(io.shut && !ipc.isConnected());
  check(owner.closedCalls == 1 && owner.errors <= 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > 8192)
    return 0;
  runSync(data[0], data + 1, size - 1);
  // Byte-by-byte arrival re-reads each message from its start.
  if (size <= 2049)
    runEventDriven(data[0], data + 1, size - 1);
  return 0;
}
