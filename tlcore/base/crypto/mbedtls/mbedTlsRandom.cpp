#include <mbedtls/entropy.h>
#include <string.h>

#include <algorithm>

#include "crypto/RandomStream.h"
#include "rdr/Exception.h"

namespace crypto {

namespace {

// Copies from the stream's window, refilling it as needed.
void copyFrom(rdr::InStream& in, unsigned char* out, size_t length, size_t& done)
{
  while (done < length) {
    if (in.nUnread() == 0)
      in.check(true, 1);
    size_t n = std::min(static_cast<size_t>(in.nUnread()), length - done);
    memcpy(out + done, in.getPtr(), n);
    in.consume(static_cast<int>(n));
    done += n;
  }
}

} // namespace

int mbedTlsRandom(void* context, unsigned char* out, size_t length)
{
  if (length == 0)
    return 0;
  size_t done = 0;
  if (context) {
    try {
      copyFrom(*static_cast<rdr::InStream*>(context), out, length, done);
    } catch (rdr::EndOfStream&) {
      // The supplied bytes ran out; the generator makes the rest.
    } catch (plat::Exception&) {
      return MBEDTLS_ERR_ENTROPY_SOURCE_FAILED;
    }
  }
  if (done < length) {
    try {
      RandomStream random;
      copyFrom(random, out, length, done);
    } catch (plat::Exception&) {
      return MBEDTLS_ERR_ENTROPY_SOURCE_FAILED;
    }
  }
  return 0;
}

} // namespace crypto
