#include "mui/MuiComms.h"

#include <limits.h>
#include <string.h>

#include <algorithm>

#include "io/FdManager.h"
#include "mui/MuContainer.h"
#include "mui/MuDialog.h"
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

bool isOneOf(const char* command, std::initializer_list<const char*> names)
{
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return strcmp(command, n) == 0; });
}

// "1" for done.
bool done(bool ok, plat::DString& reply)
{
  if (ok)
    reply.append("1\n");
  return ok;
}

// The reply's content before the closing empty line; false for "0".
bool run(char* line, plat::DString& reply)
{
  Tokens tokens(line);
  const char* command = tokens.next();
  if (strcmp(command, "version") == 0) {
    reply.append("2\n");
    return true;
  }
  if (strcmp(command, "dialogs") == 0) {
    for (const auto& entry : Mui::instance().dialogs()) {
      const char* name = entry.second->getName();
      reply.appendf("%d %s\n", entry.first, name ? name : "");
    }
    if (reply.length() == 0)
      reply.append("\n");
    return true;
  }
  if (isOneOf(command, {"popupmenu", "menu"})) {
    const char* name = tokens.next();
    if (!name) {
      MuiComms::listPopupMenus(reply);
      return true;
    }
    return MuiComms::menuCommand(name, tokens.rest(), reply);
  }
  if (strcmp(command, "menubar") == 0)
    return MuiComms::menuCommand(nullptr, tokens.rest(), reply);

  const char* address = tokens.next();
  if (strcmp(command, "lists") == 0 || strcmp(command, "listitems") == 0 || strcmp(command, "state") == 0 ||
      strcmp(command, "checklayout") == 0) {
    MuElement* element = findAddress(address);
    if (!element)
      return false;
    if (strcmp(command, "lists") == 0) {
      listNamed(element, reply);
    } else if (strcmp(command, "listitems") == 0) {
      reply = element->getItems();
      if (reply.length() == 0)
        reply.append("\n");
    } else if (strcmp(command, "state") == 0) {
      reply = element->getState();
    } else {
      MuiCommsLayoutChecker checker(reply);
      element->checkLayout(&checker);
      if (checker.count == 0)
        reply.append("\n");
    }
    return true;
  }
  if (isOneOf(command, {"click", "dblclick", "rightclick", "select"})) {
    const char* argument = tokens.next();
    int ignored;
    if (argument && !wholeInt(argument, &ignored))
      return false;
    MuElement* element = findAddress(address);
    return done(element && element->doAction(command, argument), reply);
  }
  if (isOneOf(command, {"pressenter", "settext"})) {
    const char* rest = tokens.rest();
    MuElement* element = findAddress(address);
    return done(element && element->doAction(command, rest), reply);
  }
  if (isOneOf(command, {"show", "close", "focus"})) {
    MuElement* dialog = findAddress(address, true);
    if (!dialog)
      return false;
    if (strcmp(command, "close") == 0)
      return done(static_cast<MuDialog*>(dialog)->requestClose(), reply);
    int n;
    if (!wholeInt(tokens.next(), &n))
      return false;
    if (command[0] == 'f') {
      dialog->notify(dialog, n != 0 ? MuObserver::kFocusIn : MuObserver::kFocusOut);
      return done(true, reply);
    }
    if (dialog->isShown() == (n != 0))
      return false;
    dialog->setShown(n != 0);
    return done(true, reply);
  }
  // "inspect", unknown commands and empty lines.
  return false;
}

} // namespace

// --- A connection ----------------------------------------------------------------

class MuiCommsConn : public io::IoHandler {
public:
  MuiCommsConn(MuiComms* owner, io::Io* io) : io_(io), owner_(owner)
  {
    owner_->conns_.push_back(this);
    io_->setHandler(this);
  }
  ~MuiCommsConn() override
  {
    if (io_)
      io_->shutdown(false, false);
  }
  MuiCommsConn(const MuiCommsConn&) = delete;
  MuiCommsConn& operator=(const MuiCommsConn&) = delete;

  void dataAvailable(io::Io* io) override;
  void writable(io::Io*) override {}
  void closed(io::Io* io) override;

private:
  io::Io* io_;
  MuiComms* owner_;
  plat::DString line_;
};

void MuiCommsConn::dataAvailable(io::Io* io)
{
  try {
    MuiComms::serve(*io->in, *io->out, line_);
  } catch (rdr::BlockException&) {
    // An incomplete line is read again from its start with more data.
  } catch (rdr::EndOfStream&) {
    vlog.info("Connection ended");
    io->shutdown(false, true);
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.error("Closing a connection: %s", e.formatDisplay(text));
    io->shutdown(false, true);
  }
}

void MuiCommsConn::closed(io::Io*)
{
  // The connection goes once this callback has returned.
  io_ = nullptr;
  line_ = plat::DString();
  owner_->forget(this);
  io::FdManager::current()->deleteLater(this);
}

// --- The channel -----------------------------------------------------------------

void MuiComms::start(const char* app, long long pid, int index)
{
  if (theInstance)
    plat::AssertionFail("!instance", __FILE__, __LINE__).fatal();
  theInstance = new MuiComms(os::makeNamedPipePath("MuiComms", nullptr, app, pid, index));
  theInstance->setListening(plat::isTestFeaturesEnabled());
}

void MuiComms::stop()
{
  delete theInstance;
  theInstance = nullptr;
}

MuiComms* MuiComms::instance()
{
  return theInstance;
}

MuiComms::MuiComms(plat::String path) : path_(std::move(path)) {}

MuiComms::~MuiComms()
{
  for (MuiCommsConn* conn : conns_)
    delete conn;
  conns_.clear();
  listener_.reset();
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

void MuiComms::ioAccept(io::Io* io)
{
  new MuiCommsConn(this, io);
}

void MuiComms::forget(MuiCommsConn* conn)
{
  conns_.erase(std::remove(conns_.begin(), conns_.end(), conn), conns_.end());
}

void MuiComms::serve(rdr::InStream& in, rdr::OutStream& out, plat::DString& line)
{
  for (;;) {
    in.setCheckpoint();
    in.readLine(line, kMaxLine, nullptr, true);
    in.setCheckpoint();
    vlog.info("Got command %s", line.get());
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
