// Runs tests/support/io_net_reference.py under Debian's Python over a batch
// of (mode, argument) requests and returns its answers in order.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "testutil.h"

namespace nettest {

using tltest::toHex;

inline std::string fromHex(const std::string& hex)
{
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
  return out;
}

// Empty on failure (the caller's comparison then fails visibly).
inline std::vector<std::string>
pythonReference(const std::vector<std::pair<std::string, std::string>>& requests)
{
  char path[] = "/tmp/io_net_ref_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0)
    return {};
  FILE* f = fdopen(fd, "w");
  for (const auto& r : requests)
    fprintf(f, "%s %s\n", r.first.c_str(), toHex(r.second).c_str());
  fclose(f);
  std::string cmd =
      std::string("/usr/bin/python3 ") + TL_TEST_SUPPORT_DIR + "/io_net_reference.py < " + path;
  std::vector<std::string> answers;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char line[8192];
    while (fgets(line, sizeof(line), p)) {
      std::string s(line);
      s.erase(s.find_last_not_of('\n') + 1);
      answers.push_back(fromHex(s));
    }
    if (pclose(p) != 0)
      answers.clear();
  }
  unlink(path);
  return answers;
}

} // namespace nettest
