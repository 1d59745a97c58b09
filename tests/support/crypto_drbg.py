# HMAC_DRBG with HMAC-SHA-256 (NIST SP 800-90A, section 10.1.2), written
# from the standard as the reference for the random stream.
#
# One request a line on stdin, one answer a line on stdout:
#   SEEDHEX N1 N2 ...  -> instantiate from the 32-byte entropy input SEEDHEX
#                         (no nonce, no personalisation string), then for
#                         each draw size N the bytes a fresh stream returns,
#                         in hex, space-separated.
# A stream makes 16-byte blocks, each one Generate call of 128 bits without
# additional input; it makes its first block when it is built and drops the
# rest of its last block when it goes.
import hashlib
import hmac
import sys


class HmacDrbg:
    def __init__(self, entropy_input, nonce=b"", personalization=b""):
        seed_material = entropy_input + nonce + personalization
        self.key = b"\x00" * 32
        self.v = b"\x01" * 32
        self._update(seed_material)
        self.reseed_counter = 1

    def _hmac(self, data):
        return hmac.new(self.key, data, hashlib.sha256).digest()

    def _update(self, provided_data=b""):
        self.key = self._hmac(self.v + b"\x00" + provided_data)
        self.v = self._hmac(self.v)
        if not provided_data:
            return
        self.key = self._hmac(self.v + b"\x01" + provided_data)
        self.v = self._hmac(self.v)

    def generate(self, nbytes, additional_input=b""):
        if additional_input:
            self._update(additional_input)
        temp = b""
        while len(temp) < nbytes:
            self.v = self._hmac(self.v)
            temp += self.v
        self._update(additional_input)
        self.reseed_counter += 1
        return temp[:nbytes]


def stream_draw(drbg, n):
    blocks = max(1, (n + 15) // 16)
    out = b"".join(drbg.generate(16) for _ in range(blocks))
    return out[:n]


for line in sys.stdin:
    fields = line.split()
    if not fields:
        continue
    drbg = HmacDrbg(bytes.fromhex(fields[0]))
    print(" ".join(stream_draw(drbg, int(n)).hex() or "-" for n in fields[1:]))
