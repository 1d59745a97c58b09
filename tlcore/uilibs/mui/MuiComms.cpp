#include "mui/MuiComms.h"

#include <limits.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "io/FdManager.h"
#include "mui/MuContainer.h"
#include "mui/MuDialog.h"
#include "mui/MuEntries.h"
#include "mui/Mui.h"
#include "os/NamedPipeListener.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/TestFeatures.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace mui {

namespace {

plat::LogSrc vlog("MuiComms");

MuiComms* theInstance = nullptr;

// Cuts a line in place at single spaces; two spaces in a row give an empty
// token.
class Tokens {
public:
  explicit Tokens(char* line) : cur_(line) {}
  // The next token, or null when the line is used up.
  char* next()
  {
    char* token = cur_;
    if (!token)
      return nullptr;
    char* space = strchr(token, ' ');
    cur_ = space ? space + 1 : nullptr;
    if (space)
      *space = 0;
    return token;
  }
  // Whatever follows the last token taken, spaces and all; null for nothing.
  char* rest()
  {
    char* r = cur_;
    cur_ = nullptr;
    return r;
  }

private:
  char* cur_;
};

// A whole decimal integer, optionally negative, that fits an int.
bool wholeInt(const char* text, int* value)
{
  if (!text)
    return false;
  const char* p = text + (*text == '-');
  if (!*p)
    return false;
  long long v = 0;
  for (; *p; p++) {
    if (*p < '0' || *p > '9')
      return false;
    v = v * 10 + (*p - '0');
    if (v > (long long)INT_MAX + 1)
      return false;
  }
  if (*text == '-')
    v = -v;
  if (v > INT_MAX)
    return false;
  *value = (int)v;
  return true;
}

// The dialog an address's first component names: a whole integer of 0 or
// more is an id, anything else a name (the lowest id wins).
MuDialog* findDialog(const char* component)
{
  int id;
  if (wholeInt(component, &id) && id >= 0)
    return Mui::instance().findDialog(id);
  for (const auto& entry : Mui::instance().dialogs()) {
    const char* name = entry.second->getName();
    if (strcmp(name ? name : "", component) == 0)
      return entry.second;
  }
  return nullptr;
}

// The element an address denotes: a dialog, then a dotted path inside it.
// dialogOnly ignores the path.
MuElement* findAddress(const char* address, bool dialogOnly = false)
{
  if (!address)
    return nullptr;
  const char* dot = strchr(address, '.');
  if (!dot)
    return findDialog(address);
  plat::String component(address, (int)(dot - address));
  MuDialog* dialog = findDialog(component.get());
  if (!dialog || dialogOnly)
    return dialog;
  return dialog->findElement(dot + 1);
}

void listNamed(MuElement* element, plat::DString& reply)
{
  MuContainer* container = dynamic_cast<MuContainer*>(element);
  if (!container)
    return;
  for (int i = 0; i < container->childCount(); i++) {
    MuElement* child = container->getChild(i);
    if (child->getName())
      reply.appendf("%s (%s)\n", child->getPathName().get(), child->typeName());
    listNamed(child, reply);
  }
}

class MuiCommsLayoutChecker : public MuLayoutCheckObserver {
public:
  explicit MuiCommsLayoutChecker(plat::DString& out) : out_(out) {}
  void layoutProblem(MuElement* element, const char* message) override
  {
    out_.appendf("%s: %s\n", element->getPathName().get(), message ? message : "");
    count++;
  }
  int count = 0;

private:
  plat::DString& out_;
};

// "1" for done.
bool done(bool ok, plat::DString& reply)
{
  if (ok)
    reply.append("1\n");
  return ok;
}

// --- The commands: each appends its reply's content (before the closing
// empty line) and answers false for "0". ---

using Handler = bool (*)(const char* command, Tokens& tokens, plat::DString& reply);

bool version(const char*, Tokens&, plat::DString& reply)
{
  reply.append("2\n");
  return true;
}

bool dialogs(const char*, Tokens&, plat::DString& reply)
{
  for (const auto& entry : Mui::instance().dialogs()) {
    const char* name = entry.second->getName();
    reply.appendf("%d %s\n", entry.first, name ? name : "");
  }
  if (reply.length() == 0)
    reply.append("\n");
  return true;
}

bool lists(const char*, Tokens& tokens, plat::DString& reply)
{
  MuElement* element = findAddress(tokens.next());
  if (element)
    listNamed(element, reply);
  return element != nullptr;
}

bool listItems(const char*, Tokens& tokens, plat::DString& reply)
{
  MuElement* element = findAddress(tokens.next());
  if (!element)
    return false;
  reply = element->getItems();
  // Items are whole lines, a bar's single "49%" too.
  if (reply.length() == 0 || reply.get()[reply.length() - 1] != '\n')
    reply.append("\n");
  return true;
}

bool state(const char*, Tokens& tokens, plat::DString& reply)
{
  MuElement* element = findAddress(tokens.next());
  if (element)
    reply = element->getState();
  return element != nullptr;
}

bool checkLayout(const char*, Tokens& tokens, plat::DString& reply)
{
  MuElement* element = findAddress(tokens.next());
  if (!element)
    return false;
  MuiCommsLayoutChecker checker(reply);
  element->checkLayout(&checker);
  if (checker.count == 0)
    reply.append("\n");
  return true;
}

// "click", "dblclick", "rightclick" and "select": an optional whole number.
bool pointerAction(const char* command, Tokens& tokens, plat::DString& reply)
{
  const char* address = tokens.next();
  const char* argument = tokens.next();
  int ignored;
  if (argument && !wholeInt(argument, &ignored))
    return false;
  MuElement* element = findAddress(address);
  return done(element && element->doAction(command, argument), reply);
}

// "pressenter" and "settext": the rest of the line, spaces and all.
bool textAction(const char* command, Tokens& tokens, plat::DString& reply)
{
  MuElement* element = findAddress(tokens.next());
  const char* rest = tokens.rest();
  return done(element && element->doAction(command, rest), reply);
}

bool show(const char*, Tokens& tokens, plat::DString& reply)
{
  MuElement* dialog = findAddress(tokens.next(), true);
  int n;
  if (!dialog || !wholeInt(tokens.next(), &n) || dialog->isShown() == (n != 0))
    return false;
  dialog->setShown(n != 0);
  return done(true, reply);
}

bool close(const char*, Tokens& tokens, plat::DString& reply)
{
  MuElement* dialog = findAddress(tokens.next(), true);
  return done(dialog && static_cast<MuDialog*>(dialog)->requestClose(), reply);
}

bool focus(const char*, Tokens& tokens, plat::DString& reply)
{
  MuElement* dialog = findAddress(tokens.next(), true);
  int n;
  if (!dialog || !wholeInt(tokens.next(), &n))
    return false;
  dialog->notify(dialog, n != 0 ? MuObserver::kFocusIn : MuObserver::kFocusOut);
  return done(true, reply);
}

// No inspector is offered.
bool inspect(const char*, Tokens&, plat::DString&)
{
  return false;
}

bool menuBar(const char*, Tokens& tokens, plat::DString& reply)
{
  return MuiComms::menuCommand(nullptr, tokens.rest(), reply);
}

// Without a name, the open popup menus.
bool popupMenu(const char*, Tokens& tokens, plat::DString& reply)
{
  const char* name = tokens.next();
  if (name)
    return MuiComms::menuCommand(name, tokens.rest(), reply);
  MuiComms::listPopupMenus(reply);
  return true;
}

const struct {
  const char* name;
  Handler handler;
} kCommands[] = {
    {"version", version},         {"dialogs", dialogs},
    {"lists", lists},             {"listitems", listItems},
    {"state", state},             {"show", show},
    {"click", pointerAction},     {"dblclick", pointerAction},
    {"rightclick", pointerAction}, {"select", pointerAction},
    {"pressenter", textAction},   {"settext", textAction},
    {"close", close},             {"inspect", inspect},
    {"focus", focus},             {"checklayout", checkLayout},
    {"menubar", menuBar},         {"popupmenu", popupMenu},
    {"menu", popupMenu},
};

// One line ended by a line feed, carriage returns dropped and invalid
// UTF-8 mended. A line that the end of input cuts short throws
// rdr::EndOfStream, unrun.
void readCommand(rdr::InStream& in, plat::DString& line)
{
  std::string text;
  for (;;) {
    const uint8_t c = in.readU8();
    if (c == '\n')
      break;
    if (c == '\r')
      continue;
    if (text.size() >= (size_t)MuiComms::kMaxLine)
      throw rdr::StringTooLongException();
    text.push_back((char)c);
  }
  line.clear();
  line.append(text.data(), (int)text.size());
  line.makeValidUtf8();
}

// The line as logged: without the text of a "settext" into a secret edit.
plat::DString loggedLine(const char* line)
{
  if (strncmp(line, "settext ", 8) == 0 && Mui::hasInstance()) {
    plat::String copy(line);
    Tokens tokens(copy.data());
    tokens.next();
    const char* address = tokens.next();
    auto* edit = dynamic_cast<MuEdit*>(findAddress(address));
    if (edit && edit->isSecret())
      return plat::DString::format("settext %s <hidden>", address);
  }
  plat::DString text;
  text.append(line);
  return text;
}

// The reply's content before the closing empty line; false for "0",
// which unknown commands and empty lines get too.
bool run(char* line, plat::DString& reply)
{
  Tokens tokens(line);
  const char* command = tokens.next();
  for (const auto& c : kCommands) {
    if (strcmp(command, c.name) == 0)
      return c.handler(command, tokens, reply);
  }
  return false;
}

} // namespace

// --- A connection ----------------------------------------------------------------

// Drops its connection when deleted before the connection closed.
class MuiCommsConn : public io::IoHandler {
public:
  MuiCommsConn(MuiComms* owner, io::IoPtr io) : io_(std::move(io)), owner_(owner)
  {
    io_.setOnReset(io::Shutdown::kDrop);
    io_->setHandler(this);
  }
  MuiCommsConn(const MuiCommsConn&) = delete;
  MuiCommsConn& operator=(const MuiCommsConn&) = delete;

  void dataAvailable(io::Io* io) override;
  // The replies went out: the commands that wait are read.
  void writable(io::Io* io) override
  {
    if (paused_) {
      paused_ = false;
      io->setHandler(this, true);
    }
  }
  void closed(io::Io* io) override;

private:
  io::IoPtr io_;
  MuiComms* owner_;
  plat::DString line_;
  bool paused_ = false;
};

void MuiCommsConn::dataAvailable(io::Io* io)
{
  try {
    MuiComms::serve(*io->in(), *io->out(), line_, MuiComms::kMaxUnreadReplies);
    // The peer leaves its replies unread: no more commands until it reads.
    paused_ = true;
    io->setHandler(this, false);
  } catch (rdr::BlockException&) {
    // An incomplete line is read again from its start with more data.
  } catch (rdr::EndOfStream&) {
    vlog.info("Connection ended");
    io->shutdown(io::Shutdown::kTellHandler);
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.error("Closing a connection: %s", e.formatDisplay(text));
    io->shutdown(io::Shutdown::kTellHandler);
  }
}

void MuiCommsConn::closed(io::Io*)
{
  // The connection goes once this callback has returned.
  io_.release();
  line_ = plat::DString();
  owner_->deleteLater(this);
}

// --- The channel -----------------------------------------------------------------

std::unique_ptr<MuiComms> MuiComms::start(const char* app, long long pid, int index)
{
  auto comms = std::make_unique<MuiComms>(os::makeNamedPipePath("MuiComms", nullptr, app, pid, index));
  comms->setListening(plat::isTestFeaturesEnabled());
  return comms;
}

MuiComms* MuiComms::instance()
{
  return theInstance;
}

MuiComms::MuiComms(plat::String path) : path_(std::move(path))
{
  PLAT_ASSERT_TEXT(!theInstance, "!instance");
  theInstance = this;
}

MuiComms::~MuiComms()
{
  conns_.clear();
  listener_.reset();
  theInstance = nullptr;
}

void MuiComms::setListening(bool on)
{
  if (on && !listener_) {
    try {
      os::NamedPipeListener::Config config;
      config.path = path_;
      listener_ = std::make_unique<os::NamedPipeListener>(config);
      listener_->setAcceptor(this);
      vlog.status("Listening on %s", path_.get());
    } catch (plat::Exception& e) {
      listener_.reset();
      char text[plat::Exception::kMessageSize];
      vlog.error("MuiComms failed: %s", e.formatDisplay(text));
    }
  } else if (!on && listener_) {
    listener_.reset();
  }
}

void MuiComms::ioAccept(io::IoPtr io)
{
  conns_.push_back(std::make_unique<MuiCommsConn>(this, std::move(io)));
}

void MuiComms::deleteLater(MuiCommsConn* conn)
{
  auto i = std::find_if(conns_.begin(), conns_.end(), [conn](const auto& c) { return c.get() == conn; });
  if (i == conns_.end())
    return;
  std::unique_ptr<MuiCommsConn> closed = std::move(*i);
  conns_.erase(i);
  io::FdManager::current()->deleteLater(std::move(closed));
}

void MuiComms::serve(rdr::InStream& in, rdr::OutStream& out, plat::DString& line, int maxUnread)
{
  while (out.bytesBuffered() <= maxUnread) {
    in.setCheckpoint();
    readCommand(in, line);
    in.setCheckpoint();
    vlog.info("Got command %s", loggedLine(line.get()).get());
    plat::DString reply = execute(line.get());
    out.writeBytes(reply.get(), reply.length());
    out.flush();
  }
}

plat::DString MuiComms::execute(const char* line)
{
  plat::String copy(line ? line : "");
  plat::DString reply;
  // Without a bound model (a display-less run) nothing can be found.
  if (!Mui::hasInstance() || !run(copy.data(), reply)) {
    reply.clear();
    reply.append("0\n");
  }
  reply.append("\n");
  return reply;
}

} // namespace mui
