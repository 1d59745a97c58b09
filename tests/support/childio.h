// Running some of a test's work in a forked child (optionally as the test user)
// that reports back in text, so that the parent can check it with the usual
// expectations: process-wide state changed in the child stays there.
#pragma once

#include <unistd.h>

#include <functional>
#include <string>

#include "testuser.h"
#include "testutil.h"

namespace tltest {

enum class ChildUser { kSame, kTestUser };

// What fn returned, or "child failed (<exit code>)". Reports are small (the
// child writes into a pipe that the parent drains after it ended).
inline std::string childReport(const std::function<std::string()>& fn,
                               ChildUser user = ChildUser::kSame)
{
  int fds[2];
  if (pipe(fds) != 0)
    return "pipe failed";
  auto body = [&]() -> int {
    close(fds[0]);
    std::string text = fn();
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(fds[1], text.data() + done, text.size() - done);
      if (n <= 0)
        return 98;
      done += (size_t)n;
    }
    return 0;
  };
  int rc = user == ChildUser::kTestUser ? forkAsTestUser(body) : inChild(body);
  close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0)
    out.append(buf, (size_t)n);
  close(fds[0]);
  return rc == 0 ? out : "child failed (" + std::to_string(rc) + ")";
}

} // namespace tltest
