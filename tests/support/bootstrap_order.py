#!/usr/bin/python3
"""Reference orders of the bootstrap addresses, from the PCG32 reference of
rdr_pseudorandom_reference.py. One request a line on standard input, one
answer a line (texts separated by spaces, the next one taken last):

  progress PRINCIPAL COUNT DISCOVERY BASE...   the queues after one
      configuration: discovery addresses (DISCOVERY, "-" for none), "|",
      bootstrap addresses ("%s/%d" of each base and number)
  candidates HOST COUNT MAX CACHED BASE...     the bootstrap information's
      candidate list (CACHED "-" for none, MAX -1 for no limit)
  shuffle SEED ITEM...                         the items shuffled with the seed
A principal or host "-" is the empty text.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rdr_pseudorandom_reference import Stream  # noqa: E402

MASK64 = (1 << 64) - 1


def fnv1a(text):
    h = 0xcbf29ce484222325
    for b in text.encode():
        h ^= (b - 256 if b >= 128 else b) & MASK64
        h = (h * 0x100000001b3) & MASK64
    return h


def shuffle_tail(items, k, stream):
    first = len(items) - k
    for i in range(1, k):
        j = stream.below(i + 1)
        items[first + i], items[first + j] = items[first + j], items[first + i]


def progress(principal, count, discovery, bases):
    stream = Stream(fnv1a(principal))
    disc = [] if discovery == "-" else [discovery]
    shuffle_tail(disc, len(disc), stream)
    boot = [f"{b}/{n}" for b in bases for n in range(count)]
    shuffle_tail(boot, len(boot), stream)
    return disc + ["|"] + boot


def candidates(host, count, limit, cached, bases):
    seed = fnv1a(host)
    stream = Stream(seed)
    out = [f"{b}/{stream.below(count)}" for b in bases if not (cached and cached.startswith(b))]
    shuffle_tail(out, len(out), Stream(seed))
    if cached:
        out.append(cached)
    return out[:limit] if limit >= 0 else out


def main():
    for line in sys.stdin:
        w = line.split()
        if not w:
            continue
        name = "" if w[1] == "-" else w[1]
        if w[0] == "progress":
            out = progress(name, int(w[2]), w[3], w[4:])
        elif w[0] == "candidates":
            out = candidates(name, int(w[2]), int(w[3]), None if w[4] == "-" else w[4], w[5:])
        else:
            out = w[2:]
            shuffle_tail(out, len(out), Stream(int(w[1])))
        print(" ".join(out))


if __name__ == "__main__":
    main()
