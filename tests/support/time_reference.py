#!/usr/bin/python3
# Reference calendar computations with Python's datetime, for the time tests.
# Reads one request per line on standard input and writes one answer line
# per request. Ticks are 100-ns units since 1601-01-01T00:00:00 UTC.
#   date Y M D h m s  -> ticks of that UTC date and time, or "invalid"
#   tm TICKS          -> "Y M D h m s weekday(0=Sunday) yearday(0-based)"
#   fmt TICKS         -> ISO text without and with milliseconds, 'Z' suffix
#   parse TEXT        -> ticks of an ISO 8601 text (fraction to 100 ns)
import re
import sys
from datetime import datetime, timedelta

EPOCH = datetime(1601, 1, 1)


def delta_ticks(td):
    return (td.days * 86400 + td.seconds) * 10_000_000 + td.microseconds * 10


def from_ticks(ticks):
    return EPOCH + timedelta(microseconds=ticks // 10)


ISO = re.compile(r"^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)(?:\.(\d+))?(.*)$")


def answer(words):
    cmd = words[0]
    if cmd == "date":
        try:
            dt = datetime(*map(int, words[1:7]))
        except ValueError:
            return "invalid"
        return str(delta_ticks(dt - EPOCH))
    if cmd == "tm":
        dt = from_ticks(int(words[1]))
        tt = dt.timetuple()
        return "%d %d %d %d %d %d %d %d" % (dt.year, dt.month, dt.day, dt.hour, dt.minute,
                                            dt.second, (dt.weekday() + 1) % 7, tt.tm_yday - 1)
    if cmd == "fmt":
        dt = from_ticks(int(words[1]))
        return "%sZ %sZ" % (dt.isoformat(timespec="seconds"),
                            dt.isoformat(timespec="milliseconds"))
    if cmd == "parse":
        m = ISO.match(words[1])
        # Python keeps microseconds; the seventh digit is added separately.
        dt = datetime.fromisoformat(m.group(1) + m.group(3))
        frac = int(((m.group(2) or "") + "0000000")[:7])
        off = dt.utcoffset() or timedelta(0)
        return str(delta_ticks(dt.replace(tzinfo=None) - EPOCH) - delta_ticks(off) + frac)
    raise ValueError("unknown request " + cmd)


def main():
    out = []
    for line in sys.stdin:
        words = line.split()
        if words:
            out.append(answer(words))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
