"""Prints the syslog priority of each log level given on the command line,
one per line, as the standard library's SysLogHandler encodes it (facility
"user"; levels map to severities err, warning, notice, info and debug)."""
import sys
from logging.handlers import SysLogHandler


def severity(level):
    if level < 1:
        return "err"
    if level < 6:
        return "warning"
    if level < 11:
        return "notice"
    if level < 31:
        return "info"
    return "debug"


for arg in sys.argv[1:]:
    print(SysLogHandler.encodePriority(SysLogHandler, "user", severity(int(arg))))
