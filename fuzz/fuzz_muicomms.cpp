// The automation channel's connection over arbitrary bytes, on the widget
// back-ends: dialog "all" hosted offscreen with every element kind, a menu
// bar and popup menu "pop" (made anew for each input). The requests arrive
// in pieces and the peer reads its replies when the input says, so the
// connection's own paths run: a line read again once more of it came, the
// line limit, and the pause at the unread-reply cap.
//
// Input: a count byte n, n schedule bytes, then the requests. Each schedule
// byte (cycled; none: a byte of requests at a time) is one pass of the loop:
// with bit 7 clear, size more request bytes arrive; set, the peer reads
// size * 32 bytes of replies; size is 1 to 64, then 64 to 4,096 in steps
// of 64. After that everything arrives and the peer reads all there is.
//
// Nothing may crash or hang. Each complete line before the first one over
// the limit gets one reply, in order ("version" gets "2", an empty line
// "0"); each reply is valid UTF-8 and ends with an empty line. A line over
// the limit closes the connection without a byte read past it. Only a
// paused connection holds more than the cap of unread replies, and at most
// one reply more; paused, it reads nothing until the peer has read all.
#include <stdint.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_io.h"
#include "fuzz_util.h"
#include "io/FdSelectManager.h"
#include "mui/MuMenuBarWvw.h"
#include "mui/MuiComms.h"
#include "muiWvwTree.h"
#include "plat/Configuration.h"
#include "plat/utf8.h"
#include "rdr/tests/TrickleInStream.h"
#include "ui/MenuWvw.h"
#include "wvwhost.h"

namespace {

constexpr int kCap = mui::MuiComms::kMaxUnreadReplies;

struct Sink : ui::MenuActionCallback, plat::Markup::LinkCallback {
  void action(ui::Menu::Item*) override {}
  bool linkActivated(const char*) override { return true; }
};

// The peer's end; the server flushes once after each reply, which marks
// where the reply ends.
class Replies : public PeerOutStream {
public:
  void flush() override
  {
    ends.push_back(length());
    PeerOutStream::flush();
  }
  int64_t lastLength() const
  {
    const size_t n = ends.size();
    return n ? ends[n - 1] - (n > 1 ? ends[n - 2] : 0) : 0;
  }
  std::vector<int64_t> ends;
};

struct Channel {
  explicit Channel(const std::string& requests) : input(requests), io(&input, &out) {}
  TrickleInStream input;
  Replies out;
  MemIo io;
};

// The complete lines before the first one over the limit, as the server
// reads them, and how many bytes it has read when it closes.
struct Expected {
  std::vector<std::string> lines;
  size_t end;
};

Expected expect(const std::string& bytes)
{
  Expected e{{}, bytes.size()};
  std::string line;
  for (size_t i = 0; i < bytes.size(); i++) {
    if (bytes[i] == '\n') {
      e.lines.push_back(line);
      line.clear();
    } else if (bytes[i] != '\r') {
      if (line.size() == (size_t)mui::MuiComms::kMaxLine) {
        e.end = i + 1;
        break;
      }
      line += bytes[i];
    }
  }
  return e;
}

size_t amount(uint8_t event)
{
  const size_t v = event & 0x7f;
  return v < 64 ? v + 1 : (v - 63) * 64;
}

// One pass of the loop: what the peer made room for goes out and a drained
// connection hears that it is writable; then it reads if it wants to.
void pass(Channel& c)
{
  const int64_t read = c.input.pos();
  c.out.flushBuffer(false);
  if (c.out.bytesBuffered() == 0 && c.io.handler)
    c.io.handler->writable(&c.io);
  FUZZ_CHECK(c.input.pos() == read);
  FUZZ_CHECK(!c.io.handler || c.io.reading || c.out.bytesBuffered() > 0);
  if (!c.io.handler || !c.io.reading)
    return;
  c.io.handler->dataAvailable(&c.io);
  const int waiting = c.out.bytesBuffered();
  FUZZ_CHECK(waiting <= kCap + c.out.lastLength());
  FUZZ_CHECK(!c.io.handler || c.io.reading == (waiting <= kCap));
}

void checkReplies(const Replies& out, const Expected& want)
{
  FUZZ_CHECK(out.ends.size() == want.lines.size());
  FUZZ_CHECK((int64_t)out.received.size() == (out.ends.empty() ? 0 : out.ends.back()));
  int64_t from = 0;
  for (size_t i = 0; i < want.lines.size(); i++) {
    const std::string reply = out.received.substr(from, out.ends[i] - from);
    from = out.ends[i];
    const size_t n = reply.size();
    FUZZ_CHECK(plat::isValidUtf8(reply.c_str(), reply.c_str() + n));
    FUZZ_CHECK(reply == "\n" || (n >= 2 && reply.compare(n - 2, 2, "\n\n") == 0));
    if (want.lines[i] == "version")
      FUZZ_CHECK(reply == "2\n\n");
    if (want.lines[i].empty())
      FUZZ_CHECK(reply == "0\n\n");
  }
}

void serve(const uint8_t* schedule, size_t events, const std::string& requests)
{
  const Expected want = expect(requests);
  Channel c(requests);
  {
    mui::MuiComms comms(plat::String("fuzz"));
    comms.ioAccept(io::IoPtr(&c.io));
    FUZZ_CHECK(c.io.handler && c.io.reading);
    const size_t passes = 2 * requests.size() + events;
    for (size_t i = 0; i < passes && c.io.handler && !c.input.allArrived(); i++) {
      const uint8_t event = events ? schedule[i % events] : 0;
      if (event & 0x80)
        c.out.read(amount(event) * 32);
      else
        c.input.arrive(amount(event));
      pass(c);
    }
    // Each round that leaves it open answers a line at least.
    c.input.arrive(requests.size());
    for (size_t i = 0; i <= requests.size() && c.io.handler; i++) {
      c.out.read(c.out.bytesBuffered());
      pass(c);
    }
    FUZZ_CHECK(c.io.shut && c.io.toTell);
    c.io.tellClosed();
  }
  FUZZ_CHECK(c.input.pos() == (int64_t)want.end);
  c.out.read(c.out.bytesBuffered());
  c.out.flushBuffer(false);
  checkReplies(c.out, want);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > 16384)
    return 0;
  fuzzQuietLogs();
  static io::FdSelectManager* loop = [] {
    plat::ppmm.setParam(4, plat::kPriorityPolicy);
    tltest::bindWvwHostDialogs();
    return new io::FdSelectManager;
  }();
  Sink sink;
  tltest::WvwHost host(rfb::Point(700, 500));
  std::unique_ptr<mui::MuDialog> dialog(mui::MuDialog::create("all", "All", mui::Size(1400, 1000), 0, nullptr, nullptr));
  host.setContent(&static_cast<tltest::HostDialog*>(dialog.get())->canvas);
  tltest::buildEveryKind(dialog.get(), &sink);
  mui::MuMenuBarWvw* bar = mui::MuMenuBarWvw::create(dialog.get(), &sink);
  wvw::WRootMenu popupWidget(wvw::WMenu::CheckColumn::Yes, &host, wvw::WMenu::Mnemonics::Hidden, nullptr);
  ui::MenuWvw popup(&popupWidget, &sink);
  auto registered = mui::MuPopupMenu::registry().emplace("pop", &popup);
  tltest::fillMenus(*bar, popup, &sink);
  dialog->setShown(true);
  dialog->setSize(mui::Size(1400, 1000));

  const size_t events = std::min<size_t>(data[0], size - 1);
  serve(data + 1, events, std::string((const char*)data + 1 + events, size - 1 - events));
  mui::MuPopupMenu::registry().erase(registered);
  // The closed connection is deleted on the next pass.
  loop->processOnce(0);
  return 0;
}
