"""Security-type lists, computed independently of the C++ code.

Arguments: NAME=NUMBER for each registered authentication method.
Each input line is either "parse<TAB>text" (a "SecurityTypes" list) or
"auto<TAB>level<TAB>authentication" (the expansion of "<auto>"); each
output line holds the resulting numbers separated by spaces.
"""
import re
import sys

NAMES = {
    1: "None", 2: "ZarnAuth", 3: "S3", 4: "S3ne", 5: "RA2_128", 6: "RA2ne_128",
    7: "SSPI", 8: "SSPIne", 9: "Ticket", 10: "Ticketne", 11: "SSO_128",
    12: "SSOne_128", 13: "RA2r_128", 14: "SSOr_128", 15: "KvmMgmt", 30: "Ard",
    129: "RA2_256", 130: "RA2ne_256", 131: "SSO_256", 132: "SSOne_256",
    133: "RA2r_256", 134: "SSOr_256",
}
FAMILIES = {
    "ra2": [13, 133, 5, 129], "ra2r": [13, 133], "ra2ne": [6, 130],
    "sso": [14, 134, 11, 131], "ssor": [14, 134], "ssone": [12, 132],
}


def key_bits(t):
    if 3 <= t <= 14:
        return 128
    if 129 <= t <= 134:
        return 256
    return 0


def parse(text):
    out = []
    for piece in text.split(","):
        named = [n for n, name in NAMES.items() if name.lower() == piece.lower()]
        if named:
            out.append(named[0])
            continue
        family, sep, qual = piece.partition(":")
        if not sep:
            qual = "0+"
        m = re.match(r"[0-9]+", qual)
        if family.lower() not in FAMILIES or not m or int(m.group(0)) >= 2**32:
            continue
        bits = int(m.group(0))
        at_least = qual.endswith("+")
        out += [t for t in FAMILIES[family.lower()]
                if key_bits(t) == bits or (at_least and key_bits(t) > bits)]
    return out


def for_strength(strength, authentication, methods):
    suffix = {0: "ne", 1: ":128+", 2: ":256+"}[strength]
    out = []
    for piece in authentication.split(","):
        if piece.lower() == "none":
            out += parse("RA2" + suffix)
            if strength == 0:
                out.append(1)
        elif piece.lower() == "singlesignon":
            out += parse("SSO" + suffix)
        elif piece and "+" not in piece and methods.get(piece) == 1:
            out += parse("RA2" + suffix)
            if strength == 0 and piece.lower() == "zarnauth":
                out.append(2)
    return out


STRENGTHS = {0: [2], 1: [1], 2: [1, 0], 3: [0, 1], 4: [0]}


def main():
    methods = {}
    for arg in sys.argv[1:]:
        name, number = arg.rsplit("=", 1)
        methods[name] = int(number)
    for line in sys.stdin.read().split("\n")[:-1]:
        fields = line.split("\t")
        if fields[0] == "parse":
            out = parse(fields[1])
        else:
            out = []
            for s in STRENGTHS.get(int(fields[1]), []):
                out += for_strength(s, fields[2], methods)
        print(" ".join(str(t) for t in out))


main()
