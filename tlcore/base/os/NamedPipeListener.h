// The listening side of a named pipe (a Unix-domain socket bound to a path).
//
// Binds the path and hands every accepted connection, as an os::UnixIo, to
// its acceptor. It refuses a path where a live server already answers,
// creates the socket file with the configured mode and owner, marks it
// sticky, touches it every _UnixSocketRefreshInterval seconds so temporary
// file cleaners leave it alone, and recreates it if it disappeared. Running
// out of descriptors pauses accepting for a moment instead of failing.
//
// Running as root for an owner, it works on the socket file with the
// owner's file-system user id and changes mode and times only through a
// descriptor of the file it bound, so a link the owner puts at the path
// leads nowhere.
//
// Ownership: owns its socket and the socket file (removed by the
// destructor); the acceptor is borrowed. Loop thread only. Binding changes
// the process's umask for a moment.
#pragma once

#include <stdint.h>
#include <sys/stat.h>

#include "io/FdListener.h"
#include "plat/ConfigParameter.h"
#include "plat/String.h"
#include "plat/Timer.h"

namespace os {

extern plat::IntParameter UnixSocketRefreshInterval;

class NamedPipeListener : public io::FdListener {
public:
  static constexpr uint32_t kNoOwner = 0xFFFFFFFF;
  static constexpr int kMaxPath = 108; // sizeof(sockaddr_un::sun_path)

  struct Config {
    // Shorter than kMaxPath bytes.
    plat::String path;
    // Owner of the socket file and its directory when running as root; the
    // file is bound as this user, who must be able to write the directory
    // (createDir makes it so).
    uint32_t owner = kNoOwner;
    // Create the parent directory (private, mode 0700). An existing one must
    // be a real directory (not a symbolic link) owned by the user (or, for
    // root with an owner, by root or the owner) that nobody else can write.
    bool createDir = false;
    // Socket file mode 0600 instead of 0666.
    bool ownerOnly = false;
    bool skipLiveCheck = false;
    // A datagram socket, without listen.
    bool datagram = false;
  };

  // Throws plat::SystemException "name already bound" (EADDRINUSE) when a
  // live server answers on the path, "NamedPipeListener" (ENAMETOOLONG) for
  // a path that is too long, and the failing call's exception otherwise;
  // nothing is left behind.
  explicit NamedPipeListener(const Config& config);
  // Removes the socket file.
  ~NamedPipeListener() override;

  const char* getPath() const { return path_.str(); }

protected:
  io::IoPtr acceptConnection() override;
  bool timerExpired(plat::Timer* timer) override;

private:
  void createSocket();
  void refresh();
  // An O_PATH descriptor of whatever is at the path (no link followed) and
  // its stat; -1 with errno when there is nothing.
  int openSocketFile(struct stat* st);

  plat::String path_;
  Config config_;
  plat::Timer refreshTimer_;
  // The socket file we made, so that only it is removed.
  uint64_t fileDev_ = 0;
  uint64_t fileIno_ = 0;
};

} // namespace os
