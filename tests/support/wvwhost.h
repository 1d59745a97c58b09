// The offscreen host of widget tests: a window stand-in that hosts one
// widget tree without X. It is the tree's WParent and WRoot and the last
// handler of both notification chains; it keeps a screen area, a clipboard,
// the held keys, a bell counter, the shown popups, the collected damage and
// the notifications that reached it; it scripts pointer and key input,
// paints the tree into an xrgb8888 buffer and drives the timer manager from
// a test clock. Hosts nest like modal loops (each makes the thread's current
// timer manager and replaces the monotonic clock while it lives).
// Free of gtest, so that benchmarks host their trees on it too; the golden
// image helpers are in wvwgolden.h.
#pragma once


#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "plat/Time.h"
#include "plat/Timer.h"
#include "rfb/PixDraw.h"
#include "rfb/PixelFormat.h"
#include "wvw/WLayout.h"

namespace tltest {

class WvwHost : public wvw::WParent, public wvw::WRoot, public wvw::WInputHandler, public wvw::WMouseInputHandler {
public:
  explicit WvwHost(const rfb::Point& size = rfb::Point(200, 100), const rfb::Point& origin = rfb::Point(0, 0))
    : size_(size), origin_(origin), previousClock_(plat::setMonoClock(&WvwHost::clock))
  {
    now() = 1000 * plat::kTicksPerSecond;
  }
  ~WvwHost() override
  {
    setContent(nullptr);
    plat::setMonoClock(previousClock_);
  }
  WvwHost(const WvwHost&) = delete;
  WvwHost& operator=(const WvwHost&) = delete;

  // --- The hosted tree ---
  // Sizes the widget to the host and attaches it; null detaches the old one.
  void setContent(wvw::Widget* w, bool resize = true)
  {
    if (content_ && !contentGuard_->destroyed() && content_->isAttached())
      content_->detach();
    content_ = w;
    focused_ = nullptr;
    contentGuard_.reset();
    if (!w)
      return;
    contentGuard_.reset(new plat::DestroyGuard(w->livenessToken()));
    if (resize)
      w->setSize(size_);
    w->attach(this, this, this);
  }
  // Null once the content was destroyed.
  wvw::Widget* content() const { return content_ && !contentGuard_->destroyed() ? content_ : nullptr; }

  // --- Scripted input (host coordinates = content coordinates) ---
  void pointer(int x, int y, uint32_t mask = 0)
  {
    mask_ = mask;
    if (content())
      content()->pointerEvent(rfb::Point(x, y), mask);
  }
  void press(int x, int y, int button = 0) { pointer(x, y, mask_ | (1u << button)); }
  void release(int x, int y, int button = 0) { pointer(x, y, mask_ & ~(1u << button)); }
  void click(int x, int y, int button = 0)
  {
    press(x, y, button);
    release(x, y, button);
  }
  void leave()
  {
    if (content())
      content()->pointerLeave();
  }
  // Modifiers count as held between keyDown and keyUp.
  // While popups are shown the keyboard goes to the last one (its grab).
  void keyDown(uint32_t keysym)
  {
    held_.insert(keysym);
    if (wvw::Widget* w = keyTarget())
      w->keyEvent(keysym, true);
  }
  void keyUp(uint32_t keysym)
  {
    held_.erase(keysym);
    if (wvw::Widget* w = keyTarget())
      w->keyEvent(keysym, false);
  }
  // Pointer input to the popup at index i of popups, in screen coordinates.
  void popupPointer(size_t i, int x, int y, uint32_t mask = 0)
  {
    const Popup p = popups.at(i);
    p.widget->pointerEvent(rfb::Point(x - p.position.x, y - p.position.y), mask);
  }
  void typeKey(uint32_t keysym)
  {
    keyDown(keysym);
    keyUp(keysym);
  }
  void hold(uint32_t keysym) { held_.insert(keysym); }
  void releaseAll() { held_.clear(); }

  // --- The test clock ---
  // Moves the clock and runs the timers that became due.
  void advance(int ms)
  {
    now() += ms * plat::kTicksPerMilli;
    manager_.processTimers();
  }

  // --- Painting ---
  // The whole tree over a background of fill.
  rfb::ManagedPixelBuffer& paint(const plat::Colour& fill = plat::Colour{255, 255, 255})
  {
    fb_.reset(new rfb::ManagedPixelBuffer(rfb::xrgb8888Format(), rfb::Rect(0, 0, size_.x, size_.y)));
    const int rgb[3] = {fill.r, fill.g, fill.b};
    rfb::fillRect(*fb_, fb_->rect, fb_->format.pixelFromRGB(rgb, nullptr));
    if (content())
      content()->paint(*fb_);
    return *fb_;
  }
  // The painted colour at a point.
  plat::Colour at(int x, int y) const { return colourAt(*fb_, x, y); }
  static plat::Colour colourAt(rfb::FullFramePixelBuffer& pb, int x, int y)
  {
    int rgba[4];
    rfb::rgbaFromPixel(pb.format, pb.getPixel(rfb::Point(x, y)), rgba, nullptr);
    return plat::Colour{rgba[0], rgba[1], rgba[2]};
  }

  // --- What the tree asked of the host ---
  rfb::Region damage;
  int bells = 0;
  std::string clipboard;
  struct Popup {
    wvw::Widget* widget;
    bool grab;
    rfb::Point position;
  };
  std::vector<Popup> popups;
  // Notifications that reached the top of the chains, as "<name> <source>"
  // where the source is named through names (else "?").
  std::vector<std::string> events;
  std::vector<std::pair<wvw::Widget*, std::string>> names;
  // What the host's handlers answer.
  bool handleKeys = false;
  bool takeFocus = true;
  rfb::Rect screen = rfb::Rect(0, 0, 1920, 1080);

  std::string nameOf(wvw::Widget* w) const
  {
    for (const auto& n : names) {
      if (n.first == w)
        return n.second;
    }
    return "?";
  }
  std::vector<std::string> takeEvents() { return std::move(events); }
  rfb::Region takeDamage()
  {
    rfb::Region d = damage;
    damage.clear();
    return d;
  }

  // --- WParent ---
  void childInvalidated(wvw::Widget*, const rfb::Region& region) override
  {
    rfb::Region r(region);
    r.translate(origin_);
    damage.assignUnion(r);
  }
  void bell() override { bells++; }
  void setFocus(wvw::Widget* child) override
  {
    if (!takeFocus || focused_ == child)
      return;
    focused_ = child;
    child->focusChanged(false, child);
  }
  bool isChildFocused(wvw::Widget* child) override { return child && child == focused_; }
  bool focusNext() override { return false; }
  bool focusPrevious() override { return false; }
  bool isKeyDown(uint32_t keysym) override { return held_.count(keysym) > 0; }
  plat::String getClipboardText() override { return plat::String(clipboard.c_str()); }
  void setClipboardText(const char* text) override { clipboard = text ? text : ""; }
  wvw::WRoot* getRoot(rfb::Point* offset) override
  {
    if (offset)
      *offset = origin_;
    return this;
  }
  void showRect(wvw::Widget*, const rfb::Rect&) override {}
  void startDrag(wvw::WDragDropData*, rfb::PixelBuffer*) override {}

  // --- WRoot ---
  rfb::Rect screenArea() override { return screen; }
  // A shown popup is attached (to a parent placing it at its position) and
  // a hidden one detached, as the window layer does.
  void showPopup(wvw::Widget* widget, bool show, bool grab, const rfb::Point& position) override
  {
    bool wasShown = false;
    for (size_t i = 0; i < popups.size(); i++) {
      if (popups[i].widget == widget) {
        popups.erase(popups.begin() + i);
        wasShown = true;
        break;
      }
    }
    if (show) {
      popups.push_back(Popup{widget, grab, position});
      auto& parent = popupParents_[widget];
      if (!parent)
        parent.reset(new PopupParent(this, position));
      parent->position = position;
      // Popups have no container: their owners install handlers.
      if (!widget->isAttached())
        widget->attach(parent.get(), nullptr, nullptr);
    } else if (wasShown && widget->isAttached()) {
      widget->detach();
    }
  }
  void popupPointerEvent(wvw::Widget*, const rfb::Point&, uint32_t) override {}

  // --- The last handler of each chain ---
  bool key(uint32_t keysym, bool down, wvw::Widget* source) override
  {
    note("key " + std::to_string(keysym) + (down ? " down" : " up"), source);
    return handleKeys;
  }
  bool focusChanged(bool backward, wvw::Widget* source) override
  {
    return note(backward ? "focusChanged back" : "focusChanged", source);
  }
  bool activated(wvw::Widget* source) override { return note("activated", source); }
  bool valueChanged(wvw::Widget* source) override { return note("valueChanged", source); }
  bool visibilityChanged(wvw::Widget* source) override { return note("visibilityChanged", source); }
  bool attached(wvw::Widget* source) override { return note("attached", source); }
  bool detached(wvw::Widget* source) override { return note("detached", source); }
  bool enabledChanged(wvw::Widget* source) override { return note("enabledChanged", source); }
  bool resized(wvw::Widget* source) override { return note("resized", source); }
  bool paste(wvw::Widget* source) override { return note("paste", source); }
  bool copy(wvw::Widget* source) override { return note("copy", source); }
  bool moved(const rfb::Point&, wvw::Widget* source) override { return note("moved", source); }
  bool buttonDown(int b, wvw::Widget* source) override { return note("buttonDown " + std::to_string(b), source); }
  bool buttonUp(int b, wvw::Widget* source) override { return note("buttonUp " + std::to_string(b), source); }
  bool left(wvw::Widget* source) override { return note("left", source); }

private:
  // Places a popup on the screen: its root offset is its position.
  class PopupParent : public wvw::WParent {
  public:
    PopupParent(WvwHost* host, const rfb::Point& at) : position(at), host_(host) {}
    void childInvalidated(wvw::Widget*, const rfb::Region&) override {}
    void bell() override { host_->bells++; }
    void setFocus(wvw::Widget*) override {}
    bool isChildFocused(wvw::Widget*) override { return false; }
    bool focusNext() override { return false; }
    bool focusPrevious() override { return false; }
    bool isKeyDown(uint32_t keysym) override { return host_->isKeyDown(keysym); }
    plat::String getClipboardText() override { return host_->getClipboardText(); }
    void setClipboardText(const char* text) override { host_->setClipboardText(text); }
    wvw::WRoot* getRoot(rfb::Point* offset) override
    {
      if (offset)
        *offset = position;
      return host_;
    }
    void showRect(wvw::Widget*, const rfb::Rect&) override {}
    void startDrag(wvw::WDragDropData*, rfb::PixelBuffer*) override {}

    rfb::Point position;

  private:
    WvwHost* host_;
  };

  wvw::Widget* keyTarget() const { return popups.empty() ? content() : popups.back().widget; }

  // Records the notification; answers false.
  bool note(const std::string& what, wvw::Widget* source)
  {
    events.push_back(what + " " + nameOf(source));
    return false;
  }
  static plat::Time& now()
  {
    static plat::Time t = 0;
    return t;
  }
  static plat::Time clock(plat::Time, bool* jumped)
  {
    if (jumped)
      *jumped = false;
    return now();
  }

  rfb::Point size_;
  rfb::Point origin_;
  plat::MonoClockFn previousClock_;
  // Nested when another host lives on the thread.
  plat::TimerManager manager_{plat::TimerManager::current() != nullptr};
  wvw::Widget* content_ = nullptr;
  std::unique_ptr<plat::DestroyGuard> contentGuard_;
  wvw::Widget* focused_ = nullptr;
  std::set<uint32_t> held_;
  uint32_t mask_ = 0;
  std::unique_ptr<rfb::ManagedPixelBuffer> fb_;
  std::map<wvw::Widget*, std::unique_ptr<PopupParent>> popupParents_;
};

// --- Widgets and handlers for tests ------------------------------------------------------

// A plain widget: fills itself with colour; focusable when asked.
class TestBox : public wvw::Widget {
public:
  explicit TestBox(wvw::WLayout* layout = nullptr, bool focusable = true) : Widget(layout), focusable_(focusable) {}
  rfb::Point preferredSize() override { return rfb::Point(10, 10); }
  bool wantsFocus() override { return focusable_ && Widget::wantsFocus(); }
  void paint(rfb::WritablePixelBuffer& pb) override
  {
    const int rgb[3] = {colour.r, colour.g, colour.b};
    rfb::fillRect(pb, rfb::Rect(0, 0, width(), height()), pb.format.pixelFromRGB(rgb, pb.colourMap));
  }
  plat::Colour colour{0, 128, 0};

private:
  bool focusable_;
};

// Logs every notification as "<name>: <what>" into a shared list and
// answers with the flags set for it.
class Recorder : public wvw::WInputHandler, public wvw::WMouseInputHandler {
public:
  Recorder(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
  bool key(uint32_t k, bool down, wvw::Widget*) override
  {
    return note("key " + std::to_string(k) + (down ? " down" : " up"), takeKeys);
  }
  bool focusChanged(bool backward, wvw::Widget*) override { return note(backward ? "focus back" : "focus", false); }
  bool activated(wvw::Widget*) override { return note("activated", takeActivated); }
  bool valueChanged(wvw::Widget*) override { return note("valueChanged", false); }
  bool copy(wvw::Widget*) override { return note("copy", takeCopy); }
  bool paste(wvw::Widget*) override { return note("paste", false); }
  bool moved(const rfb::Point& p, wvw::Widget*) override
  {
    return note("moved " + std::to_string(p.x) + "," + std::to_string(p.y), false);
  }
  bool buttonDown(int b, wvw::Widget*) override { return note("down " + std::to_string(b), false); }
  bool buttonUp(int b, wvw::Widget*) override { return note("up " + std::to_string(b), false); }
  bool left(wvw::Widget*) override { return note("left", false); }

  bool takeKeys = false;
  bool takeActivated = false;
  bool takeCopy = false;

private:
  bool note(const std::string& what, bool answer)
  {
    log_->push_back(name_ + ": " + what);
    return answer;
  }
  std::string name_;
  std::vector<std::string>* log_;
};

// Keeps the kinds of the mouse events it is given.
class MouseLog : public tlutil::MouseCallback {
public:
  bool mouseEvent(const tlutil::MouseEvent& e) override
  {
    kinds.push_back((int)e.kind);
    return answer;
  }
  std::vector<int> kinds;
  bool answer = false;
};

} // namespace tltest
