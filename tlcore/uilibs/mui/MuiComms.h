// The automation channel "MuiComms": a test driver connects to a per-process
// named pipe and reads and operates every dialog through a line protocol,
// one command per line and one reply per command, each reply closed by an
// empty line. It listens only while the test-features gate is open.
//
// Commands act at once on the live element tree, as user input would: one
// that opens a strong-modal dialog is answered when that dialog ends, since
// the modal loop serves no descriptor. A connection that sends a line over
// kMaxLine bytes, or fails to read or write, is closed and logged; the
// others and the loop go on. A line that the end of input cuts short is
// dropped, not run. Replies that a peer leaves unread are bounded: past
// kMaxUnreadReplies bytes (plus one reply) its commands wait until it reads.
//
// Ownership: at most one channel per process, owned by whoever starts it;
// it owns its listener and its connections, each of which owns its
// io::IoPtr. A connection that closes leaves the channel at once and is
// deleted on a later pass by the loop. Loop thread only; nothing is locked.
#pragma once

#include <memory>
#include <vector>

#include "io/Io.h"
#include "plat/DString.h"
#include "plat/String.h"
#include "rdr/Forward.h"

namespace os {
class NamedPipeListener;
}

namespace mui {

class MuiCommsConn;

class MuiComms : public io::IoAcceptor {
public:
  static constexpr int kMaxLine = 1024;
  static constexpr int kMaxUnreadReplies = 65536;

  // Makes the process's channel on the pipe path of "MuiComms" for app
  // (null: this application), pid (-1: this process) and index (-1: none),
  // then listens when test features are enabled.
  static std::unique_ptr<MuiComms> start(const char* app, long long pid, int index);
  // A channel on path that does not listen yet. A second channel while one
  // lives is the fatal assertion "!instance".
  explicit MuiComms(plat::String path);
  // Closes the connections and the listener.
  ~MuiComms() override;
  MuiComms(const MuiComms&) = delete;
  MuiComms& operator=(const MuiComms&) = delete;

  // The live channel, or null.
  static MuiComms* instance();

  // Creates or deletes the listener. A failure to listen is logged as
  // "MuiComms failed: %s" and leaves the channel off.
  void setListening(bool on);
  bool isListening() const { return listener_ != nullptr; }
  const char* path() const { return path_.get(); }

  void ioAccept(io::IoPtr io) override;

  // Reads every complete line (line is the buffer) and writes its reply,
  // until the stream throws: rdr::BlockException when a line is
  // incomplete, rdr::EndOfStream also when input ends inside a line, what
  // it reads or writes, rdr::StringTooLongException for a line over
  // kMaxLine bytes. Returns when more than maxUnread bytes of replies wait
  // in out.
  static void serve(rdr::InStream& in, rdr::OutStream& out, plat::DString& line, int maxUnread = 2147483647);
  // Runs one command line and returns its reply, closing empty line
  // included.
  static plat::DString execute(const char* line);

  // --- Menus (on the X layer's menus, in MuiCommsMenusTx.cpp) ---
  // Runs the menu sub-command in rest (null: none) on the leaf items of the
  // open popup menu registered as popupName, or of the application's menu
  // bar when popupName is null, appending the reply's content; false when
  // there is no such menu or item, or no sub-command.
  static bool menuCommand(const char* popupName, char* rest, plat::DString& reply);
  // Appends one line per open popup menu's name, in name order.
  static void listPopupMenus(plat::DString& reply);

private:
  friend class MuiCommsConn;

  // Takes a closed connection out of the list and has the loop delete it
  // once the callback that closed it has returned.
  void deleteLater(MuiCommsConn* conn);

  plat::String path_;
  std::unique_ptr<os::NamedPipeListener> listener_;
  std::vector<std::unique_ptr<MuiCommsConn>> conns_;
};

} // namespace mui
