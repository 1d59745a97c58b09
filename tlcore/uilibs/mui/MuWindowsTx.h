// The back-ends of the kinds that own a top-level X window: every dialog
// (MuDialogTx), popup menus, the superbox whose list drops down in a
// window of its own, and the auto-hiding panel.
//
// A MuDialogTx is its X window (a tx::TXDialog) and owns its element tree,
// its optional border widget and menu bar; the element widgets live in the
// dialog's content canvas. It remembers the widget that last had the focus
// and gives it back the focus when it is attached again, until that widget
// goes. Loop thread only.
#pragma once

#include <memory>
#include <string>

#include "mui/MuContainerKinds.h"
#include "mui/MuLeavesWvw.h"
#include "mui/MuiWvw.h"
#include "tx/TXDialog.h"
#include "ui/AutoHider.h"
#include "ui/MenuWvw.h"

namespace mui {

class MuMenuBarWvw;

// A one-pixel outline drawn over the edge of the dialog's content.
class WDialogBorder : public wvw::WLayout {
public:
  explicit WDialogBorder(wvw::Widget* content);
  bool resized(wvw::Widget* source) override;
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  wvw::Widget* content_;
  int width_ = 1;
};

class MuDialogTx : public MuDialog, public tx::TXDialog {
public:
  // Flag bits this back-end reads beyond the model's.
  enum WindowFlags : uint32_t {
    kOverride = 0x20,
    kAbove = 0x80,
    kNoDecorations = 0x100,
    kBorder = 0x200,
    kNoInput = 0x400,
    kGrabbed = 0x2000,
  };

  MuDialogTx(const char* name, const char* title, const Size& size, uint32_t flags, MuDialog* owner,
             WindowHandle ownerWindow);
  ~MuDialogTx() override;

  // --- Element ---
  void setShown(bool shown) override;
  bool isShown() const override { return isMapped(); }
  void setFocus() override;
  using tx::TXWParent::setFocus;
  void setSize(const Size& size) override;
  using tx::TXWindow::setSize;
  void setPosition(const rfb::Point& position) override;
  rfb::Point getPosition() const override;
  rfb::Point getAbsolutePosition() const override { return getPosition(); }
  void styleChanged() override;
  void relayout() override;
  void addChild(std::unique_ptr<MuElement> element) override;
  void removeChild(MuElement* element) override;
  void setMinSize(const Size& size) override;
  using tx::TXWindow::setMinSize;
  WindowHandle windowHandle() const override;
  void setTitle(const char* title) override;
  Size outerSize() const override;
  Size workAreaSize() const override;
  MuElement* getMenuBar() override;
  void copyToClipboard(const char* text) override;
  // From then on the window wipes every selection text it lets go.
  void copySecretToClipboard(const char* text) override;
  void focusChanged(MuElement* element) override;
  using wvw::WInputHandler::focusChanged;

  // --- Window and widget input ---
  bool handleEvent(XEvent* ev) override;
  bool key(uint32_t keysym, bool down, wvw::Widget* source) override;
  bool buttonDown(int button, wvw::Widget* source) override;
  bool attached(wvw::Widget* source) override;
  bool resized(wvw::Widget* source) override;
  void deleteWindow(tx::TXWindow* window) override;

  // The widget that gets the focus back when attached; null once gone.
  wvw::Widget* focusWidget();
  WDialogBorder* border() const { return border_.get(); }

protected:
  void showHook() override;
  void cancel() override;
  void focusChanged() override;
  void mapChanged() override;
  using tx::TXWParent::resized;

private:
  void layOutContent();
  void tellFocus();
  tx::TXWindow* ownerTx() const { return static_cast<tx::TXWindow*>(ownerWindow()); }

  std::unique_ptr<WDialogBorder> border_;
  wvw::WStyle wstyle_;
  MuMenuBarWvw* menuBar_ = nullptr;
  // Without decorations only where the window manager can move it.
  bool decorated_ = true;
  wvw::Widget* focusWidget_ = nullptr;
  std::unique_ptr<plat::DestroyGuard> focusGuard_;
};

// Popup menus by name, for the automation channel.
class MuPopupMenuTx : public MuPopupMenu {
public:
  MuPopupMenuTx(const char* name, ui::MenuActionCallback* callback);
  ~MuPopupMenuTx() override;

  ui::Menu* menu() override { return &menu_; }
  void popupAtPointer() override;
  void popupAt(const rfb::Point& position) override;
  wvw::WRootMenu& widget() { return rootMenu_; }

private:
  wvw::WRootMenu rootMenu_;
  ui::MenuWvw menu_;
  std::string name_;
};

// Its list window grabs the pointer and keyboard while shown and closes on
// a click outside; keys typed meanwhile go on into the entry.
class MuSuperboxTx : public MuSuperboxWvw, public tx::TXEventHandler {
public:
  MuSuperboxTx(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler, int popupHeight);
  ~MuSuperboxTx() override;

  void showPopup(bool show) override;
  bool handleEvent(XEvent* ev) override;
};

class MuAutoHiderTx : public MuAutoHider, public ui::AutoHider::Callback {
public:
  MuAutoHiderTx(const char* name, const Size& size, int side, int visibleStrip, MuAutoHiderCallback* callback);
  ~MuAutoHiderTx() override;

  MuDialog* element() override { return dialog_.get(); }
  void setParentWindow(MuDialog::WindowHandle parent) override;
  MuDialog::WindowHandle nativeWindow() override { return dialog_->windowHandle(); }
  void animation(bool starting, bool showing, ui::AutoHider*) override { visibilityChanged(showing, starting); }
  ui::TXAutoHider& hider() { return hider_; }

private:
  std::unique_ptr<MuDialog> dialog_;
  ui::TXAutoHider hider_;
};

// The window the dialog element shows in; null for none.
tx::TXWindow* windowOf(MuDialog* dialog);

} // namespace mui
