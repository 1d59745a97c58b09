#include "muiFake.h"

#include <stdio.h>
#include <stdlib.h>

#include <memory>

#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "muimisc/ProgressBar.h"

namespace tltest {

namespace {

std::string pointText(const rfb::Point& p)
{
  return std::to_string(p.x) + "," + std::to_string(p.y);
}

std::string rectText(const rfb::Rect& r)
{
  return pointText(r.topLeft) + " " + pointText(r.bottomRight);
}

// A kind with the fake back-end attached.
template <class Kind> class Fake : public Kind {
public:
  template <class... Args> explicit Fake(Args... args) : Kind(args...)
  {
    this->setCommon(std::make_unique<FakeCommon>(true));
  }
};

template <class Kind, class... Args> void bindFake(Kind* (*&factory)(Args...))
{
  factory = [](Args... args) -> Kind* { return new Fake<Kind>(args...); };
}

class FakePopupMenu : public mui::MuPopupMenu {};

class FakeAutoHider : public mui::MuAutoHider {
public:
  explicit FakeAutoHider(Callback* callback) : MuAutoHider(callback) {}
};

class FakeMui : public mui::Mui {};

} // namespace

void FakeCommon::setShown(bool s)
{
  shown = s;
  calls.push_back(std::string("setShown ") + (s ? "1" : "0"));
}

void FakeCommon::setEnabled(bool e)
{
  enabled = e;
  calls.push_back(std::string("setEnabled ") + (e ? "1" : "0"));
}

void FakeCommon::setFocus()
{
  focus = true;
  calls.push_back("setFocus");
}

void FakeCommon::setTooltip(const char* text)
{
  tooltip = text ? text : "";
  calls.push_back("setTooltip " + tooltip);
}

void FakeCommon::setSize(const mui::Size& s)
{
  size = s;
  calls.push_back("setSize " + pointText(s));
}

int FakeCommon::preferredWidth(int height) const
{
  return preferredWidthFor(height);
}

int FakeCommon::preferredHeight(int width) const
{
  return preferredHeightFor(width);
}

void FakeCommon::setPosition(const rfb::Point& p)
{
  position = p;
  calls.push_back("setPosition " + pointText(p));
}

void FakeCommon::styleChanged()
{
  calls.push_back("styleChanged");
}

void FakeCommon::ensureVisible(const rfb::Rect& rect)
{
  calls.push_back("ensureVisible " + rectText(rect));
}

void FakeCommon::invalidate(const rfb::Rect& rect)
{
  calls.push_back("invalidate " + rectText(rect));
}

void FakeCommon::setPreferred(int width, int height)
{
  preferredWidthFor = [width](int) { return width; };
  preferredHeightFor = [height](int) { return height; };
}

FakeCommon& fakeOf(const mui::MuElement* element)
{
  FakeCommon* common = element ? dynamic_cast<FakeCommon*>(element->common()) : nullptr;
  if (!common) {
    fprintf(stderr, "fakeOf: the element has no fake back-end\n");
    abort();
  }
  return *common;
}

FakeDialog::FakeDialog(const char* name, const char* title, const mui::Size& size, uint32_t flags,
                       mui::MuDialog* owner, WindowHandle ownerWindow)
  : MuDialog(name, title, size, flags, owner, ownerWindow), title(title ? title : "")
{
  auto common = std::make_unique<FakeCommon>(false);
  common->size = size;
  setCommon(std::move(common));
}

void bindFakeBackEnd()
{
  static FakeMui fakeMui;
  mui::Mui::setInstance(&fakeMui);
  mui::muAutoHiderFactory = [](const char*, const mui::Size&, int, int,
                               mui::MuAutoHiderCallback* callback) -> mui::MuAutoHider* {
    return new FakeAutoHider(callback);
  };
  bindFake(mui::muButtonFactory);
  bindFake(mui::muCheckFactory);
  bindFake(mui::muChoiceFactory);
  mui::muDialogFactory = [](const char* name, const char* title, const mui::Size& size, uint32_t flags,
                            mui::MuDialog* owner, mui::MuDialog::WindowHandle window) -> mui::MuDialog* {
    return new FakeDialog(name, title, size, flags, owner, window);
  };
  bindFake(mui::muEditFactory);
  bindFake(mui::muFrameFactory);
  bindFake(mui::muImageFactory);
  bindFake(mui::muLayoutFactory);
  bindFake(mui::muLineFactory);
  bindFake(mui::muListFactory);
  bindFake(mui::muPagerFactory);
  mui::muPopupMenuFactory = [](const char*, ui::MenuActionCallback*) -> mui::MuPopupMenu* {
    return new FakePopupMenu();
  };
  bindFake(mui::muScrollFactory);
  bindFake(mui::muSliderFactory);
  bindFake(mui::muSplitterFactory);
  bindFake(mui::muStaticFactory);
  bindFake(mui::muSuperboxFactory);
  bindFake(mui::muTextFactory);
  bindFake(muimisc::progressBarFactory);
}

void unbindFactories()
{
  mui::muAutoHiderFactory = nullptr;
  mui::muButtonFactory = nullptr;
  mui::muCheckFactory = nullptr;
  mui::muChoiceFactory = nullptr;
  mui::muDialogFactory = nullptr;
  mui::muEditFactory = nullptr;
  mui::muFrameFactory = nullptr;
  mui::muImageFactory = nullptr;
  mui::muLayoutFactory = nullptr;
  mui::muLineFactory = nullptr;
  mui::muListFactory = nullptr;
  mui::muPagerFactory = nullptr;
  mui::muPopupMenuFactory = nullptr;
  mui::muScrollFactory = nullptr;
  mui::muSliderFactory = nullptr;
  mui::muSplitterFactory = nullptr;
  mui::muStaticFactory = nullptr;
  mui::muSuperboxFactory = nullptr;
  mui::muTextFactory = nullptr;
  muimisc::progressBarFactory = nullptr;
}

} // namespace tltest
