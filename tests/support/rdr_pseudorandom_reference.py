#!/usr/bin/python3
# Reference for the pseudo-random stream: two PCG32 (XSH-RR) generators with
# fixed increments 1 and 3, an 8-byte window holding the first generator's
# output then the second's, each least significant byte first. A read that
# does not fit in what is left of the window drops the rest and refills.
# One request a line on stdin: "SEED OP OP ..." with OP one of u8, u16, u32,
# u64 or bN (a uniform value below N); one answer a line: the values in
# decimal, then the stream position.
import sys

MASK64 = (1 << 64) - 1
MULT = 6364136223846793005


class Pcg32:
    def __init__(self, seed, seq):
        self.state = 0
        self.inc = seq | 1
        self.next()
        self.state = (self.state + seed) & MASK64
        self.next()

    def next(self):
        old = self.state
        self.state = (old * MULT + (self.inc | 1)) & MASK64
        xorshifted = ((old >> 45) ^ (old >> 27)) & 0xFFFFFFFF
        rot = old >> 59
        return ((xorshifted >> rot) | (xorshifted << ((32 - rot) & 31))) & 0xFFFFFFFF


class Stream:
    def __init__(self, seed):
        self.gens = [Pcg32(seed, 1), Pcg32(seed, 3)]
        self.window = b""
        self.index = 0
        self.offset = 0

    def take(self, n):
        if len(self.window) - self.index < n:
            self.offset += self.index
            self.window = b"".join(g.next().to_bytes(4, "little") for g in self.gens)
            self.index = 0
        out = self.window[self.index:self.index + n]
        self.index += n
        return int.from_bytes(out, "big")

    def below(self, n):
        if n == 0:
            return self.take(4)
        threshold = ((1 << 32) - n) % (1 << 32) % n
        value = self.take(4)
        reads = 1
        while value < threshold and reads < 9:
            value = self.take(4)
            reads += 1
        return value % n

    def pos(self):
        return self.offset + self.index


SIZES = {"u8": 1, "u16": 2, "u32": 4, "u64": 8}


def main():
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        s = Stream(int(words[0], 0))
        values = []
        for op in words[1:]:
            if op in SIZES:
                values.append(s.take(SIZES[op]))
            else:
                values.append(s.below(int(op[1:], 0)))
        print(" ".join(str(v) for v in values + [s.pos()]))


if __name__ == "__main__":
    main()
