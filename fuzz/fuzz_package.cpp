// The package reader on arbitrary bytes, from memory and from a file: a
// refusal is a plat::Exception; what is read is read the same both ways
// when the bytes are one package, and its sections fit inside the input.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "fuzz_util.h"
#include "hosted/Package.h"

using namespace hosted;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1 << 20))
    return 0;
  try {
    PackageReader r((int)size, data);
    size_t total = 0;
    for (const auto& s : r.sections())
      total += s.first.size() + s.second.length();
    FUZZ_CHECK(total <= size);
    r.getChecksum();
    r.getSignableBytes();
  } catch (plat::Exception&) {
  }
  char path[] = "/tmp/fuzz_package_XXXXXX";
  int fd = mkstemp(path);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(write(fd, data, size) == (ssize_t)size);
  close(fd);
  try {
    PackageReader r(path);
    size_t total = 0;
    for (const auto& s : r.sections())
      total += s.first.size() + s.second.length();
    FUZZ_CHECK(total <= size);
  } catch (plat::Exception&) {
  }
  unlink(path);
  return 0;
}
