// The dead-key file reader on arbitrary bytes: whatever the file holds, the
// reader logs and keeps a consistent set of tables, and composing with them
// afterwards never fails.
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "fuzz_util.h"
#include "plat/Configuration.h"
#include "rfb/DeadKeyUtil.h"
#include "rfb/KeysymNames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  static int fd = -1;
  static char path[64];
  if (fd < 0) {
    fd = memfd_create("deadkeys", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    plat::Configuration::global().logChanges = false;
    plat::Configuration::global().set("DeadKeyFile", path, 0);
  }
  FUZZ_CHECK(ftruncate(fd, 0) == 0);
  FUZZ_CHECK(pwrite(fd, data, size, 0) == (ssize_t)size);

  rfb::DeadKeyUtil util;
  util.readDeadKeyFile("de");
  std::vector<uint32_t> out;
  const uint32_t keys[] = {rfb::keysym::dead_acute, 0x65, rfb::keysym::Multi_key, 0x27, 0x61,
                           rfb::keysym::dead_grave, 0x71};
  for (uint32_t k : keys) {
    util.processKey(k, true, out);
    util.processKey(k, false, out);
  }
  uint32_t dead, base;
  for (uint32_t r : out)
    if (util.decompose(r, dead, base))
      FUZZ_CHECK(util.findCombination(dead, base) != 0);
  return 0;
}
