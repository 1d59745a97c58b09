// The private copies of the wizard's session files that the admin helper
// hands to a command in place of the files themselves: the package it
// installs, the token file the server reads. The wizard's user can change
// its own files at any time, before the check or after it; a copy in a
// folder that only root reaches, whose bytes have the digest the wizard
// took when it received or wrote them, cannot change any more.
//
// A file is copied only when it is a regular file of the requesting user
// directly inside one of that user's session directories,
// "<tmp>/.<path component>-<uid>/installer/<session>/<name>", each of those
// three folders owned by the user and writable by no one else. Nothing on
// the way is followed as a link from the user's folder on, and nothing is
// waited for (a FIFO is refused, not opened for reading). The copies keep
// their file's name, in a fresh folder inside a folder of root's that no
// other user can change (plat::checkTrustedAsRoot; the helper uses root's
// own user directory, which no one else can fill in advance as they could
// a name in /tmp); the destructor removes that fresh folder.
//
// Helper's loop thread only. A copy is read and written at once, blocking.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include "plat/String.h"

namespace tlOrbSetup {

class SessionFileCopies {
public:
  // user: the requesting user; parent: where root's copies go.
  SessionFileCopies(uid_t user, const char* parent) : user_(user), parent_(parent) {}
  ~SessionFileCopies();
  SessionFileCopies(const SessionFileCopies&) = delete;
  SessionFileCopies& operator=(const SessionFileCopies&) = delete;

  // The copy's path. Throws plat::Exception when the file breaks the rules
  // above, and "%s changed after the setup program saved it; it was not
  // used" when the copy's SHA-256 is not sha256 (the copy is removed).
  plat::String copy(const char* path, const uint8_t (&sha256)[32]);

private:
  uid_t user_;
  plat::String parent_;
  plat::String dir_;
};

} // namespace tlOrbSetup
