// The container kinds besides the box layout and the dialog (frame, pager,
// scroll container, splitter) and the two window-level interfaces (popup
// menu, auto-hider). Each is built through its factory by the bound
// back-end; here each holds its creation arguments and its children.
// Containers own their children. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>
#include <vector>

#include "mui/MuContainer.h"

namespace ui {
class MenuActionCallback;
} // namespace ui

namespace mui {

// One child inside a margin and a frame style.
class MuFrame : public MuContainerSingle {
public:
  enum Type : uint32_t { kPlain = 0, kTitled = 1, kHeader = 2, kFooter = 3, kBordered = 4 };
  static MuFrame* create(MuContainer* parent, const char* name, const char* title, uint32_t type);
  const char* typeName() const override;

protected:
  MuFrame(MuContainer* parent, const char* name, const char* title, uint32_t type);
  uint32_t type_;
  Size margin_;
};

// A child that may be larger than the view.
class MuScroll : public MuContainerSingle {
public:
  enum Style : uint32_t { kVertical = 0x1, kHorizontal = 0x2, kBordered = 0x4 };
  static MuScroll* create(MuContainer* parent, const char* name, uint32_t style);
  const char* typeName() const override;

protected:
  MuScroll(MuContainer* parent, const char* name, uint32_t style);
  uint32_t style_;
  Size maxSize_;
};

// Children kept in order; the base of the deck and the splitter.
class MuContainerList : public MuContainer {
public:
  ~MuContainerList() override;
  MuElement* getChild(int index) const override;
  int childCount() const override;
  void addChild(std::unique_ptr<MuElement> element) override;
  // Removes and deletes a child; a stranger is ignored.
  void removeChild(MuElement* element) override;
  // Deletes the children from the last.
  void destroyChildren() override;

protected:
  MuContainerList(MuContainer* parent, const char* name);

private:
  std::vector<std::unique_ptr<MuElement>> children_;
};

// A deck of pages, one shown at a time, with or without tabs.
class MuPager : public MuContainerList {
public:
  static MuPager* create(MuContainer* parent, const char* name, uint32_t kind);
  const char* typeName() const override;

protected:
  MuPager(MuContainer* parent, const char* name, uint32_t kind);
  uint32_t kind_;
};

// Panes separated by draggable sashes.
class MuSplitter : public MuContainerList {
public:
  static MuSplitter* create(MuContainer* parent, const char* name, uint32_t orientation, bool thin, bool fixed);
  const char* typeName() const override;

protected:
  MuSplitter(MuContainer* parent, const char* name, uint32_t orientation, bool thin, bool fixed);
  uint32_t orientation_;
  bool thin_;
  bool fixed_;
};

// A menu that pops up over a dialog; made by the window back-end, owned by
// its creator.
class MuPopupMenu {
public:
  static std::unique_ptr<MuPopupMenu> create(const char* name, ui::MenuActionCallback* callback);
  virtual ~MuPopupMenu();

protected:
  MuPopupMenu() = default;
};

// Told when an auto-hiding window slides in or out.
class MuAutoHiderCallback {
public:
  virtual void visibilityChanged(bool visible, bool animating) = 0;
  virtual ~MuAutoHiderCallback();
};

// A window that slides in from an edge of its parent; made by the window
// back-end, owned by its creator.
class MuAutoHider {
public:
  using Callback = MuAutoHiderCallback;
  static std::unique_ptr<MuAutoHider> create(const char* name, const Size& size, int side, int visibleStrip,
                                             Callback* callback);
  virtual ~MuAutoHider();
  // Forwarded to the callback given at creation.
  virtual void visibilityChanged(bool visible, bool animating);

protected:
  explicit MuAutoHider(Callback* callback) : callback_(callback) {}

private:
  Callback* callback_;
};

} // namespace mui
