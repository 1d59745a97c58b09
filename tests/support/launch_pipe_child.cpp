// The child of the elevated launch tests: connects back through the launch
// pipe options on its command line, says "hello <euid>" and ends.
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "io/FdIo.h"
#include "os/AppLoop.h"
#include "os/LaunchPipe.h"
#include "plat/Exception.h"

int main(int, char** argv)
{
  os::AppLoop::selectManager();
  char** cursor = argv + 1;
  try {
    os::LaunchedProcessPipe::Args args;
    io::IoPtr io = os::LaunchedProcessPipe::connect(args, cursor, 0);
    io.setOnReset(io::Shutdown::kDrop);
    int fd = dynamic_cast<io::FdIo*>(io.get())->getFd();
    std::string hello = "hello " + std::to_string(geteuid());
    if (write(fd, hello.data(), hello.size()) != (ssize_t)hello.size())
      return 2;
    io.reset();
  } catch (plat::Exception& e) {
    fprintf(stderr, "%s\n", e.str());
    return 1;
  }
  return 0;
}
