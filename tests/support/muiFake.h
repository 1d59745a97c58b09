// The UI model's fake back-end: a MuCommon that records what the model asks
// of it and answers settable sizes, a dialog whose window operations do
// nothing but record, fakes of the kinds' back-end operations (values kept
// as a widget would keep them), and fake creators for all twenty factories.
// Tests of
// the model, its kinds and the automation channel build their trees on it
// without X. Never linked into the program. Free of gtest.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mui/MuDialog.h"
#include "mui/MuLeaves.h"
#include "mui/Mui.h"

namespace tltest {

class FakeCommon : public mui::MuCommon {
public:
  explicit FakeCommon(bool shown) : shown(shown) {}

  void setShown(bool s) override;
  bool isShown() const override { return shown; }
  void setEnabled(bool e) override;
  void setFocus() override;
  bool hasFocus() const override { return focus; }
  void setTooltip(const char* text) override;
  void setSize(const mui::Size& s) override;
  mui::Size getSize() const override { return size; }
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;
  void setPosition(const rfb::Point& p) override;
  rfb::Point getPosition() const override { return position; }
  void styleChanged() override;
  void ensureVisible(const rfb::Rect& rect) override;
  void invalidate(const rfb::Rect& rect) override;

  // Answers preferredWidth and preferredHeight with constants.
  void setPreferred(int width, int height);

  // The state as the model last set it.
  bool shown;
  bool enabled = true;
  bool focus = false;
  mui::Size size;
  rfb::Point position;
  std::string tooltip;
  // Answers of the size queries, given the other extent.
  std::function<int(int)> preferredWidthFor = [](int) { return 0; };
  std::function<int(int)> preferredHeightFor = [](int) { return 0; };
  // Called after setShown, as a window back-end's modal show would run.
  std::function<void(bool)> shownHook;
  // Every call that changes something, as "setEnabled 0", "setSize 10,20"...
  std::vector<std::string> calls;
};

// The fake back-end of an element built by the fake creators (aborts for
// any other).
FakeCommon& fakeOf(const mui::MuElement* element);

class FakeDialog : public mui::MuDialog {
public:
  FakeDialog(const char* name, const char* title, const mui::Size& size, uint32_t flags, mui::MuDialog* owner,
             WindowHandle ownerWindow);

  void setTitle(const char* text) override { title = text ? text : ""; }
  mui::Size workAreaSize() const override { return workArea; }
  // A window's position is its absolute position.
  rfb::Point getAbsolutePosition() const override { return getPosition(); }
  void focusChanged(mui::MuElement* element) override { focused = element; }

  std::string title;
  mui::Size workArea{1920, 1080};
  mui::MuElement* focused = nullptr;
};

// The superbox of the fake creators, with a settable entry rectangle.
class FakeSuperbox : public mui::MuSuperbox {
public:
  FakeSuperbox(mui::MuContainer* parent, const char* name, const char* label, KeyHandler* handler, int height);
  plat::String getText() const override { return plat::String(text.c_str()); }
  void setText(const char* t) override { text = t ? t : ""; }
  rfb::Rect fieldRect() const override { return field; }

  std::string text;
  rfb::Rect field;
};

// Makes a fake Mui the instance (once per process) and binds all twenty
// factories to fake creators: elements start shown, dialogs hidden.
void bindFakeBackEnd();
// Sets all twenty factories back to null (the Mui instance stays).
void unbindFactories();

// A fixed tree on the fake back-end for the automation channel: dialog
// "dlg" (shown, 400 by 300) with layout "l" holding button "b", edit "e",
// list "li" (one row "x y") and an unnamed layout with static "s", which
// wants more height than it gets; dialog "other" (hidden), which vetoes
// closing until allowClose. Events of both dialogs are recorded in seen as
// "<path>/<code>".
class SampleTree : public mui::MuObserver, mui::MuDialog::CloseCallback {
public:
  SampleTree();
  ~SampleTree() override;

  void event(mui::MuElement* source, uint32_t code) override;

  std::unique_ptr<mui::MuDialog> dlg, other;
  mui::MuEdit* edit;
  std::vector<std::string> seen;
  bool allowClose = false;

private:
  bool mayClose(mui::MuDialog*) override { return allowClose; }
};

} // namespace tltest
