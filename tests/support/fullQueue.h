// A Unix-socket server that never accepts and whose listen queue is full,
// so a blocking connect to it waits for room; closed and unlinked when it
// goes.
#pragma once

#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tltest {

class FullQueueListener {
public:
  explicit FullQueueListener(const std::string& path) : path_(path)
  {
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    fds_.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    EXPECT_EQ(0, bind(fds_[0], (struct sockaddr*)&addr, sizeof(addr))) << path;
    EXPECT_EQ(0, listen(fds_[0], 0));
    // Non-blocking connects fill the queue until one is refused for want of room.
    for (int i = 0; i < 100; i++) {
      int c = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      fds_.push_back(c);
      if (connect(c, (struct sockaddr*)&addr, sizeof(addr)) != 0)
        return;
    }
    ADD_FAILURE() << "the queue of " << path << " never filled";
  }
  ~FullQueueListener()
  {
    for (int fd : fds_)
      close(fd);
    unlink(path_.c_str());
  }

private:
  std::string path_;
  std::vector<int> fds_;
};

} // namespace tltest
