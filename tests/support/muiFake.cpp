#include "muiFake.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
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

template <class Made, class Kind, class... Args> void bindAs(std::unique_ptr<Kind> (*&factory)(Args...))
{
  factory = [](Args... args) -> std::unique_ptr<Kind> { return std::make_unique<Made>(args...); };
}

template <class Kind, class... Args> void bindFake(std::unique_ptr<Kind> (*&factory)(Args...))
{
  bindAs<Fake<Kind>>(factory);
}

void record(const mui::MuElement* e, const std::string& call)
{
  fakeOf(e).calls.push_back(call);
}

class FakeButton : public Fake<mui::MuButton> {
public:
  using Fake::Fake;
  void setImageBuffer(std::unique_ptr<rfb::PixelBuffer>, int state) override
  {
    record(this, "setImageBuffer " + std::to_string(state));
  }
};

// 0 unchecked, 1 checked, 2 indeterminate, as the box widget.
class FakeCheck : public Fake<mui::MuCheck> {
public:
  using Fake::Fake;
  void setChecked(bool checked) override { state_ = checked ? 1 : 0; }
  bool isChecked() const override { return state_ == 1; }
  void setIndeterminate() override { state_ = 2; }
  bool isIndeterminate() const override { return state_ == 2; }

private:
  int state_ = 0;
};

class FakeChoice : public Fake<mui::MuChoice> {
public:
  using Fake::Fake;
  void select(int index) override
  {
    if (index >= 0 && index < (int)items_.size())
      text_ = items_[index];
  }
  int selectedIndex() const override
  {
    auto i = std::find(items_.begin(), items_.end(), text_);
    return i == items_.end() ? -1 : (int)(i - items_.begin());
  }
  void setText(const char* text) override { text_ = text ? text : ""; }
  plat::String text() const override { return plat::String(text_.c_str()); }
  void insertItem(int index, const char* text) override
  {
    index = std::max(0, std::min(index, (int)items_.size()));
    items_.insert(items_.begin() + index, text ? text : "");
  }
  void removeItem(int index) override
  {
    if (index >= 0 && index < (int)items_.size())
      items_.erase(items_.begin() + index);
  }
  void clearItems() override { items_.clear(); }

private:
  std::vector<std::string> items_;
  std::string text_;
};

class FakeEdit : public Fake<mui::MuEdit> {
public:
  using Fake::Fake;
  void setText(const char* text) override { text_ = text ? text : ""; }
  plat::String getText() const override { return plat::String(text_.c_str()); }
  plat::SecureString getSecret() const override { return plat::SecureString(text_.c_str()); }
  void setSelection(int start, int length) override
  {
    start_ = start;
    length_ = start < 0 ? 0 : length < 0 ? (int)text_.size() - start : length;
  }
  int getSelection(int* length) const override
  {
    if (length)
      *length = length_;
    return start_;
  }

private:
  std::string text_;
  int start_ = -1;
  int length_ = 0;
};

class FakeImage : public Fake<mui::MuImage> {
public:
  using Fake::Fake;
  mui::Size imageSize() const override { return imageSize_; }
};

class FakeList : public Fake<mui::MuList> {
public:
  using Fake::Fake;
  void setCell(int row, uint32_t columnId, const char* text) override { storeCell(row, columnId, text); }
};

class FakeSlider : public Fake<mui::MuSlider> {
public:
  using Fake::Fake;
  void setValue(int value) override { value_ = value; }
  int value() const override { return value_; }
  void setRange(int minimum, int maximum) override
  {
    minimum_ = minimum;
    maximum_ = maximum;
  }
  int minimum() const override { return minimum_; }
  int maximum() const override { return maximum_; }

private:
  int value_ = 0, minimum_ = 0, maximum_ = 100;
};

class FakeSplitter : public Fake<mui::MuSplitter> {
public:
  using Fake::Fake;
  void dragStarted() override { record(this, "dragStarted"); }
  void dragEnded() override { record(this, "dragEnded"); }
};

class FakePopupMenu : public mui::MuPopupMenu {
public:
  ui::Menu* menu() override { return nullptr; }
  void popupAtPointer() override {}
  // Recorded as where it popped up last.
  void popupAt(const rfb::Point& p) override { at = p; }
  rfb::Point at;
};

class FakeAutoHider : public mui::MuAutoHider {
public:
  FakeAutoHider(const char* name, const mui::Size& size, Callback* callback)
    : MuAutoHider(callback), dialog_(std::make_unique<FakeDialog>(name, "", size, 0x0A00, nullptr, nullptr))
  {
  }
  mui::MuDialog* element() override { return dialog_.get(); }
  void setParentWindow(mui::MuDialog::WindowHandle) override {}
  mui::MuDialog::WindowHandle nativeWindow() override { return nullptr; }

private:
  std::unique_ptr<FakeDialog> dialog_;
};

class FakeMui : public mui::Mui {};

} // namespace

void FakeCommon::setShown(bool s)
{
  shown = s;
  calls.push_back(std::string("setShown ") + (s ? "1" : "0"));
  if (shownHook)
    shownHook(s);
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

FakeSuperbox::FakeSuperbox(mui::MuContainer* parent, const char* name, const char* label, KeyHandler* handler,
                           int height)
  : MuSuperbox(parent, name, label, handler, height)
{
}

void bindFakeBackEnd()
{
  static FakeMui fakeMui;
  mui::Mui::setInstance(&fakeMui);
  mui::muAutoHiderFactory = [](const char* name, const mui::Size& size, int, int,
                               mui::MuAutoHiderCallback* callback) -> std::unique_ptr<mui::MuAutoHider> {
    return std::make_unique<FakeAutoHider>(name, size, callback);
  };
  bindAs<FakeButton>(mui::muButtonFactory);
  bindAs<FakeCheck>(mui::muCheckFactory);
  bindAs<FakeChoice>(mui::muChoiceFactory);
  bindAs<FakeDialog>(mui::muDialogFactory);
  bindAs<FakeEdit>(mui::muEditFactory);
  bindFake(mui::muFrameFactory);
  bindAs<FakeImage>(mui::muImageFactory);
  bindFake(mui::muLayoutFactory);
  bindFake(mui::muLineFactory);
  bindAs<FakeList>(mui::muListFactory);
  bindFake(mui::muPagerFactory);
  mui::muPopupMenuFactory = [](const char*, ui::MenuActionCallback*) -> std::unique_ptr<mui::MuPopupMenu> {
    return std::make_unique<FakePopupMenu>();
  };
  bindFake(mui::muScrollFactory);
  bindAs<FakeSlider>(mui::muSliderFactory);
  bindAs<FakeSplitter>(mui::muSplitterFactory);
  bindFake(mui::muStaticFactory);
  bindAs<Fake<FakeSuperbox>>(mui::muSuperboxFactory);
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

// --- The sample tree --------------------------------------------------------------

SampleTree::SampleTree()
{
  using namespace mui;
  bindFakeBackEnd();
  dlg = MuDialog::create("dlg", "", Size(400, 300), 0, nullptr, nullptr);
  other = MuDialog::create("other", "", Size(10, 10), 0, nullptr, nullptr);
  dlg->setShown(true);
  MuLayout* l = MuLayout::create(dlg.get(), "l", MuLayout::kVertical);
  MuButton::create(l, "b", "Go", 0, 0, 1);
  edit = MuEdit::create(l, "e", "E", 0, 0);
  MuList* list = MuList::create(l, "li", 0, 0);
  list->addColumn(0, 0, "c", 10);
  list->insertRow(0);
  list->setCell(0, 0, "x y");
  MuStatic* s = MuStatic::create(MuLayout::create(l, nullptr, MuLayout::kHorizontal), "s", "S", 0);
  dlg->setSize(Size(400, 300));
  fakeOf(s).preferredHeightFor = [](int) { return 999; };
  dlg->addObserver(this, true);
  other->addObserver(this, true);
  other->setCloseCallback(this);
}

SampleTree::~SampleTree() = default;

void SampleTree::event(mui::MuElement* source, uint32_t code)
{
  seen.push_back(std::string(source->getPathName().str()) + "/" + std::to_string(code));
}

} // namespace tltest
