// A child for the launcher tests: reports what it was given, then ends.
//
//   launch_helper [-setuidhelper <uid> <program>] <report> <ending> [args...]
//
// report: a file path, "-" for standard output, or "fd:N". The report lists
// "arg <text>" per argument, "env <entry>" per variable, "fd <n> <target>"
// per open descriptor, the SigCgt, SigIgn and SigBlk lines of
// /proc/self/status and "ppid <n>". ending: "exit:N", "signal:N" or
// "sleep:S" (then exit 0). Everything is gathered before the report is
// opened, so the report's own descriptor never shows.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

extern char** environ;

int main(int argc, char** argv)
{
  // Started through a command line rewritten for another user.
  int first = argc > 4 && !strcmp(argv[1], "-setuidhelper") ? 4 : 1;
  if (argc < first + 2)
    return 120;
  const char* report = argv[first];
  const char* ending = argv[first + 1];
  std::string out;
  for (int i = 0; i < argc; i++)
    out += std::string("arg ") + argv[i] + "\n";
  for (char** e = environ; *e; e++)
    out += std::string("env ") + *e + "\n";
  if (DIR* d = opendir("/proc/self/fd")) {
    int self = dirfd(d);
    while (struct dirent* e = readdir(d)) {
      if (e->d_name[0] == '.' || atoi(e->d_name) == self)
        continue;
      char target[512];
      ssize_t n = readlink((std::string("/proc/self/fd/") + e->d_name).c_str(), target,
                           sizeof(target) - 1);
      target[n > 0 ? n : 0] = 0;
      out += std::string("fd ") + e->d_name + " " + target + "\n";
    }
    closedir(d);
  }
  if (FILE* f = fopen("/proc/self/status", "re")) {
    char line[256];
    while (fgets(line, sizeof(line), f)) {
      if (!strncmp(line, "SigCgt:", 7) || !strncmp(line, "SigIgn:", 7) ||
          !strncmp(line, "SigBlk:", 7))
        out += line;
    }
    fclose(f);
  }
  out += "ppid " + std::to_string(getppid()) + "\n";

  int fd = 1;
  if (!strncmp(report, "fd:", 3))
    fd = atoi(report + 3);
  else if (strcmp(report, "-") != 0)
    fd = open(report, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || write(fd, out.data(), out.size()) != (ssize_t)out.size())
    return 121;

  if (!strncmp(ending, "exit:", 5))
    return atoi(ending + 5);
  if (!strncmp(ending, "signal:", 7)) {
    int s = atoi(ending + 7);
    signal(s, SIG_DFL);
    raise(s);
    return 122;
  }
  if (!strncmp(ending, "sleep:", 6)) {
    sleep((unsigned)atoi(ending + 6));
    return 0;
  }
  return 123;
}
