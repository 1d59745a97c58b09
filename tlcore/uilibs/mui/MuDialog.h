// The root of every element tree: a top-level window made of panels.
//
// Panels are stacked at the top, at the bottom, or fill the rest inset by
// the dialog margin. The dialog holds the default and cancel buttons that
// Return and Escape activate, a close callback that may veto closing, and
// its registration with the Mui singleton, which gives it its id. The window
// back-end implements the pure operations and hands key presses and close
// requests to handleKey and requestClose.
//
// Ownership: the dialog's creator owns it; the dialog owns its panels. The
// buttons, key handler and callbacks are not owned. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>
#include <vector>

#include "mui/MuContainer.h"

namespace mui {

class MuDialog : public MuContainer {
public:
  // A window as the window back-end knows it; opaque here.
  using WindowHandle = void*;

  // Flag bits read by the model; the others belong to the window back-end.
  enum Flags : uint32_t {
    kFixedSize = 0x1,
    kNoHide = 0x2,
    kDisableClose = 0x4,
    kModal = 0x8,
    kStrongModal = 0x10,
    kFitContent = 0x40,
    kAbsFixedSize = 0x1000,
  };
  enum PanelKind : uint32_t { kFill = 0, kTop = 1, kBottom = 2 };
  enum Button { kDefaultButton = 0, kCancelButton = 1 };

  // May veto a close request.
  class CloseCallback {
  public:
    virtual bool mayClose(MuDialog* dialog) = 0;
    virtual ~CloseCallback();
  };
  // Whether a drag that starts at position on element may move the window.
  class MoveCallback {
  public:
    virtual bool mayMoveFrom(const rfb::Point& position, MuElement* element) = 0;
    virtual ~MoveCallback();
    // Refuses drags that start on a button.
    static MoveCallback* exceptButtons();
    // Refuses drags that start on a button, list or check.
    static MoveCallback* exceptControls();
  };
  // May take Return (which 0) or Escape (which 1) before the buttons do.
  class KeyHandler {
  public:
    virtual bool dialogKey(int which, MuDialog* dialog) = 0;
    virtual ~KeyHandler();
  };

  // Built through muDialogFactory and owned by the caller.
  static std::unique_ptr<MuDialog> create(const char* name, const char* title, const Size& size, uint32_t flags,
                                          MuDialog* owner, WindowHandle ownerWindow);
  ~MuDialog() override;

  void setPosition(const rfb::Point& position) override;
  const char* typeName() const override;
  // The element dump, then the flag lines.
  plat::DString getState() const override;
  // Lays out the panels, then sizes the dialog to its content when its
  // flags ask for it.
  void relayout() override;

  // --- Panels ---
  MuElement* getChild(int index) const override;
  int childCount() const override;
  // Appends a fill panel.
  void addChild(std::unique_ptr<MuElement> element) override;
  void removeChild(MuElement* element) override;
  void layoutChildren() override;
  void destroyChildren() override;
  void setPanelKind(MuElement* element, uint32_t kind);

  // --- Window ---
  virtual void setMinSize(const Size& size);
  virtual WindowHandle windowHandle() const;
  virtual void setOwnerWindow(WindowHandle window);
  // Button kDefaultButton (Return) or kCancelButton (Escape).
  virtual void setButton(int which, MuElement* button);
  virtual void setTitle(const char* title) = 0;
  // The size with the window manager's frame.
  virtual Size outerSize() const;
  // The size of the desktop's work area.
  virtual Size workAreaSize() const = 0;
  // The dialog's menu bar element, made on first use by the window back-end.
  virtual MuElement* getMenuBar();
  virtual void copyToClipboard(const char* text);
  // The same for a secret: the window wipes its copy when it lets it go.
  virtual void copySecretToClipboard(const char* text);
  // Told by setFocus of any element in the tree.
  virtual void focusChanged(MuElement* element);

  // --- Input ---
  // Return and Escape: the key handler first, then the default or cancel
  // button when it exists and is enabled and not locked. Other keys: false.
  bool handleKey(uint32_t keysym);
  bool pressButton(int which);
  // Unless the close callback vetoes it: hides the dialog, sends
  // kDialogClosed and answers true. The dialog is not destroyed.
  bool requestClose();

  void setCloseCallback(CloseCallback* callback) { closeCallback_ = callback; }
  void setKeyHandler(KeyHandler* handler) { keyHandler_ = handler; }
  void setMoveCallback(MoveCallback* callback) { moveCallback_ = callback; }
  MoveCallback* moveCallback() const { return moveCallback_; }

  uint32_t dialogFlags() const { return flags_; }
  WindowHandle ownerWindow() const { return ownerWindow_; }
  bool positioned() const { return positioned_; }
  int margin() const { return margin_; }
  void setMargin(int margin) { margin_ = margin; }
  MuElement* button(int which) const { return which == kDefaultButton ? defaultButton_ : cancelButton_; }

protected:
  MuDialog(const char* name, const char* title, const Size& size, uint32_t flags, MuDialog* owner,
           WindowHandle ownerWindow);

private:
  struct Panel {
    std::unique_ptr<MuElement> element;
    uint32_t kind;
  };

  ChildList<Panel> panels_;
  uint32_t flags_;
  int contentHeight_;
  int margin_;
  WindowHandle ownerWindow_;
  bool positioned_ = false;
  MuElement* defaultButton_ = nullptr;
  MuElement* cancelButton_ = nullptr;
  KeyHandler* keyHandler_ = nullptr;
  CloseCallback* closeCallback_ = nullptr;
  MoveCallback* moveCallback_ = nullptr;
};

} // namespace mui
