// Copy and paste against xclip and small helper clients: what we offer,
// what we receive, an owner that never answers, an INCR offer, and a
// requestor that is gone before we answer. The cases run in this order
// and share the selections.
#include <gtest/gtest.h>

#include "plat/Time.h"
#include "tx/TXWindow.h"
#include "txtest.h"

using namespace tltest;

namespace {

const char kText[] = "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac" "5";

std::string xclip(const std::string& args, int* status = nullptr)
{
  return pumpCommand("xclip -display " + sharedXvfb().display() + " " + args, status);
}

// Another client: its own connection and window.
struct Client {
  Client() : dpy(XOpenDisplay(sharedXvfb().display().c_str()))
  {
    win = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
  }
  ~Client() { XCloseDisplay(dpy); }
  void own(Atom selection)
  {
    XSetSelectionOwner(dpy, selection, win, CurrentTime);
    XSync(dpy, False);
  }
  Display* dpy;
  Window win;
};

class TXSelectionTest : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    openTestDisplay();
    window = new tx::TXWindow(10, 10);
  }
  static void TearDownTestSuite() { delete window; }
  // Until our window no longer owns the selection.
  static void waitLost(Atom selection)
  {
    EXPECT_TRUE(pumpUntil([&] { return XGetSelectionOwner(tx::display(), selection) != window->window(); }));
    tx::processEvents();
  }
  static tx::TXWindow* window;
};
tx::TXWindow* TXSelectionTest::window;

} // namespace

TEST_F(TXSelectionTest, OfferedTextReachesOtherClients)
{
  window->ownSelection((int)strlen(kText), kText, tx::getServerTime());
  EXPECT_EQ(kText, xclip("-o -selection primary"));
  EXPECT_EQ(kText, xclip("-o -selection clipboard"));
  EXPECT_EQ("TIMESTAMP\nUTF8_STRING\nSTRING\n", xclip("-o -selection clipboard -t TARGETS"));
  EXPECT_EQ("Gr\xfc\xdf" "e \x80" "5", xclip("-o -selection primary -t STRING"));
  int n = 0;
  char* cut = XFetchBytes(tx::display(), &n);
  EXPECT_EQ("Gr\xfc\xdf" "e \x80" "5", std::string(cut, (size_t)n));
  XFree(cut);
  // Our own offer pastes without a request.
  unsigned long before = NextRequest(tx::display());
  EXPECT_STREQ(kText, window->getSelection(tx::xa::CLIPBOARD()));
  EXPECT_EQ(before, NextRequest(tx::display()));
}

TEST_F(TXSelectionTest, PastedTextLeavesTheOfferAlone)
{
  int status;
  pumpCommand("printf 'from xclip \\303\\251' | xclip -display " + sharedXvfb().display() +
                " -selection clipboard -i -loops 2 >/dev/null 2>&1 &",
              &status);
  waitLost(tx::xa::CLIPBOARD());
  EXPECT_STREQ("from xclip \xc3\xa9", window->getSelection(tx::xa::CLIPBOARD()));
  EXPECT_STREQ(kText, window->selectionText());
  EXPECT_EQ(kText, xclip("-o -selection primary"));
}

TEST_F(TXSelectionTest, SilentOwnerGivesNothingWithinTwoSeconds)
{
  Client silent;
  silent.own(tx::xa::CLIPBOARD());
  waitLost(tx::xa::CLIPBOARD());
  const plat::Time start = plat::getMonoTime();
  EXPECT_EQ(nullptr, window->getSelection(tx::xa::CLIPBOARD()));
  const double seconds = (double)(plat::getMonoTime() - start) / plat::kTicksPerSecond;
  EXPECT_GT(seconds, 1.9);
  EXPECT_LT(seconds, 3.5);
}

// An owner that offers its text in INCR chunks: the paste is empty, and
// every chunk is taken so the owner finishes (exit status 0).
TEST_F(TXSelectionTest, IncrOfferPastesEmptyAndItsChunksAreConsumed)
{
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t pid = spawn([&] {
    alarm(20);
    Client owner;
    owner.own(tx::xa::CLIPBOARD());
    Atom incr = XInternAtom(owner.dpy, "INCR", False), utf8 = XInternAtom(owner.dpy, "UTF8_STRING", False);
    (void)!write(ready[1], "r", 1);
    Window requestor = 0;
    Atom property = None;
    int chunks = 0;
    for (;;) {
      XEvent ev;
      XNextEvent(owner.dpy, &ev);
      if (ev.type == SelectionRequest) {
        XSelectionRequestEvent& req = ev.xselectionrequest;
        XEvent reply{};
        reply.xselection = {SelectionNotify, 0, True, owner.dpy, req.requestor, req.selection, req.target,
                            None, req.time};
        if (req.target == utf8 && !requestor) {
          requestor = req.requestor;
          property = reply.xselection.property = req.property;
          XSelectInput(owner.dpy, requestor, PropertyChangeMask);
          long size = 3000;
          XChangeProperty(owner.dpy, requestor, property, incr, 32, PropModeReplace, (unsigned char*)&size, 1);
        }
        XSendEvent(owner.dpy, req.requestor, False, 0, &reply);
      } else if (ev.type == PropertyNotify && ev.xproperty.window == requestor && ev.xproperty.atom == property &&
                 ev.xproperty.state == PropertyDelete) {
        std::string chunk(chunks < 3 ? 1000 : 0, 'x');
        XChangeProperty(owner.dpy, requestor, property, utf8, 8, PropModeReplace, (unsigned char*)chunk.data(),
                        (int)chunk.size());
        XSync(owner.dpy, False);
        if (chunks++ == 3)
          return 0;
      }
    }
  });
  char c;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  close(ready[0]);
  close(ready[1]);
  waitLost(tx::xa::CLIPBOARD());
  LogCapture log("TXWindow");
  EXPECT_EQ(nullptr, window->getSelection(tx::xa::CLIPBOARD()));
  EXPECT_TRUE(window->incrPending());
  EXPECT_TRUE(pumpUntil([&] { return !window->incrPending(); }));
  EXPECT_EQ(0, waitChild(pid));
  const std::vector<std::string> lines = log.lines();
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "Ignoring large selection - replacing with empty string"));
}

// A requestor whose window is gone before we answer: the error is caught
// and logged, and we go on.
TEST_F(TXSelectionTest, RequestorGoneBeforeTheReply)
{
  ASSERT_EQ(window->window(), XGetSelectionOwner(tx::display(), XA_PRIMARY));
  LogCapture log("TXWindow");
  int gone[2];
  ASSERT_EQ(0, pipe(gone));
  pid_t pid = spawn([&] {
    Client requestor;
    XConvertSelection(requestor.dpy, XA_PRIMARY, XInternAtom(requestor.dpy, "UTF8_STRING", False), XA_PRIMARY,
                      requestor.win, CurrentTime);
    XSync(requestor.dpy, False);
    (void)!write(gone[1], &requestor.win, sizeof(requestor.win));
    return 0;
  });
  Window requestorWin = 0;
  ASSERT_EQ((ssize_t)sizeof(requestorWin), read(gone[0], &requestorWin, sizeof(requestorWin)));
  close(gone[0]);
  close(gone[1]);
  EXPECT_EQ(0, waitChild(pid));
  // The request waits in our queue until the window is gone.
  for (bool exists = true; exists; usleep(10000)) {
    XWindowAttributes attrs;
    tx::ErrorCatcher catcher;
    exists = XGetWindowAttributes(tx::display(), requestorWin, &attrs) && !catcher.errorCode();
  }
  EXPECT_TRUE(pumpUntil([&] { return !log.lines().empty(); }));
  char want[128];
  snprintf(want, sizeof(want), "Selection request from 0x%lx not answered: ", requestorWin);
  ASSERT_EQ(1u, log.lines().size());
  EXPECT_EQ(0u, log.lines()[0].find(want)) << log.lines()[0];
  EXPECT_NE(std::string::npos, log.lines()[0].find("BadWindow"));
}
