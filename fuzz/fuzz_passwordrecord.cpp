// verifyPassword and isPasswordHash on arbitrary records. The round count
// field is cut to at most 255 so that a run stays short; a record that
// verifies must be one the same password derives.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "crypto/PasswordHash.h"
#include "fuzz_util.h"
#include "plat/MBuf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::vector<unsigned char> record(data, data + size);
  if (record.size() >= 7)
    record[3] = record[4] = record[5] = 0;
  bool shaped = crypto::isPasswordHash((int)record.size(), record.data());
  bool ok = crypto::verifyPassword("password", (int)record.size(), record.data());
  FUZZ_CHECK(!ok || shaped);
  if (ok) {
    plat::MBuf<unsigned char> salt(record.data() + 7, 16);
    crypto::Pbkdf2Result r = crypto::pbkdf2("password", salt, record[6], 64, 512);
    FUZZ_CHECK(memcmp(r.key.data(), record.data() + 23, 64) == 0);
  }
  return 0;
}
