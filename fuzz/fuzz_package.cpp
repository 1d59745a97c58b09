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
  // The file side needs a temporary file; a machine that cannot write one
  // (a full /tmp) is no finding.
  char path[] = "/tmp/fuzz_package_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0)
    return 0;
  bool written = write(fd, data, size) == (ssize_t)size;
  close(fd);
  if (!written) {
    unlink(path);
    return 0;
  }
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
