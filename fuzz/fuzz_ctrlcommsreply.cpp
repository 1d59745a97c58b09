// The control-channel client's reply readers over arbitrary bodies: the
// first byte picks "getConfigReply" or "getConnectionsReply". A connection
// list is replaced only by a complete one.
#include <stdint.h>

#include <vector>

#include "fuzz_util.h"
#include "plat/Exception.h"
#include "rdr/MemInStream.h"
#include "smisc/CtrlCommsClientHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1)
    return 0;
  rdr::MemInStream in(data + 1, (int)size - 1);
  if (data[0] & 1) {
    plat::CaseInsensitiveStringMap config;
    try {
      smisc::CtrlCommsClientHelper::readConfigReply(in, config);
    } catch (plat::Exception&) {
    }
    return 0;
  }
  std::vector<smisc::ConnectionInfo> list(1);
  try {
    smisc::CtrlCommsClientHelper::readConnectionsReply(in, list);
  } catch (plat::Exception&) {
    FUZZ_CHECK(list.size() == 1);
    return 0;
  }
  FUZZ_CHECK(size >= 3 && list.size() == ((unsigned)data[1] << 8 | data[2]));
  return 0;
}
