// The container kinds besides the box layout and the dialog (frame, pager,
// scroll container, splitter) and the two window-level interfaces (popup
// menu, auto-hider). Each is built through its factory by the bound
// back-end. The model part holds the structure, the size rules and the
// events; the back-ends draw. Containers own their children. Loop thread
// only.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mui/MuContainer.h"
#include "mui/MuDialog.h"

namespace ui {
class Menu;
class MenuActionCallback;
} // namespace ui

namespace mui {

// One child inside a margin and a frame style; the back-end places it.
class MuFrame : public MuContainerSingle {
public:
  enum Type : uint32_t { kPlain = 0, kTitled = 1, kHeader = 2, kFooter = 3, kBordered = 4 };
  static MuFrame* create(MuContainer* parent, const char* name, const char* title, uint32_t type);
  const char* typeName() const override;
  plat::DString getState() const override;

  virtual void setMargin(const Size& margin);
  const Size& margin() const { return margin_; }
  uint32_t type() const { return type_; }

protected:
  MuFrame(MuContainer* parent, const char* name, const char* title, uint32_t type);
  uint32_t type_;
  Size margin_;
};

// A child that may be larger than the view, with scrollbars as needed.
class MuScroll : public MuContainerSingle {
public:
  enum Style : uint32_t { kVertical = 0x1, kHorizontal = 0x2, kBordered = 0x4 };
  // What fitChild decided: the view left beside the bars, the child's size
  // and which bars are needed.
  struct Fit {
    Size view;
    Size child;
    bool needHorizontal = false;
    bool needVertical = false;
  };

  static MuScroll* create(MuContainer* parent, const char* name, uint32_t style);
  const char* typeName() const override;
  plat::DString getState() const override;
  // The child's wish plus the decoration, at most the maximum size.
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;

  // --- Back-end ---
  virtual rfb::Point scrollPosition() const;
  virtual void setScrollPosition(const rfb::Point& position);
  virtual Size borderWidth() const;
  virtual int horizontalBarHeight() const;
  virtual int verticalBarWidth() const;

  void setMaxSize(const Size& size) { maxSize_ = size; }
  // The borders and the bars the style allows.
  Size decorationSize() const;
  // Which bars the child needs in view: the vertical one first, the
  // horizontal one when the narrowed child needs more width, then the
  // vertical one again when the lower view needs it.
  Fit fitChild(const Size& view) const;
  // The same for one axis alone.
  Fit fitVertical(const Size& view) const;
  Fit fitHorizontal(const Size& view) const;
  uint32_t style() const { return style_; }

protected:
  MuScroll(MuContainer* parent, const char* name, uint32_t style);
  uint32_t style_;
  Size maxSize_;

private:
  int childWidth(int height) const;
  int childHeight(int width) const;
  bool addVertical(Fit& fit, bool keepChildWidth) const;
  bool addHorizontal(Fit& fit, bool keepChildHeight) const;
};

// A deck of pages, one shown at a time, with tabs or without.
class MuPager : public MuContainer {
public:
  static MuPager* create(MuContainer* parent, const char* name, uint32_t kind);
  ~MuPager() override;
  const char* typeName() const override;
  plat::DString getState() const override;
  // One line per page: its index and title.
  plat::DString getItems() const override;
  // "select" N (N required): the page when it exists; changed in any case.
  bool doAction(const char* action, const char* argument) override;

  MuElement* getChild(int index) const override;
  int childCount() const override;
  // Appends a page without title.
  void addChild(std::unique_ptr<MuElement> element) override;
  // A page at or before the current one moves the current one back.
  void removeChild(MuElement* element) override;
  // Shows the current page and hides the others.
  void layoutChildren() override;
  void destroyChildren() override;
  // Hooks for the back-end.
  virtual void pageTitleChanged(int index);
  virtual void currentPageChanged();

  void setPageTitle(MuElement* page, const char* title);
  const char* pageTitle(int index) const;
  // An index out of range is ignored; no event.
  void setCurrent(int index);
  // The user picked a tab: current, and changed.
  void pageSelected(int index);
  int current() const { return current_; }
  uint32_t kind() const { return kind_; }

protected:
  MuPager(MuContainer* parent, const char* name, uint32_t kind);
  uint32_t kind_;

private:
  struct Page {
    std::unique_ptr<MuElement> element;
    plat::String title;
  };
  ChildList<Page> pages_;
  int current_ = 0;
};

// Panes separated by draggable sashes: side by side (orientation 0) or
// stacked. Each pane has a minimum and a size along the axis; a pane that
// does not fit shrinks towards its minimum unless the splitter is fixed.
class MuSplitter : public MuContainer {
public:
  static MuSplitter* create(MuContainer* parent, const char* name, uint32_t orientation, bool thin, bool fixed);
  ~MuSplitter() override;
  const char* typeName() const override;
  // Ends with an empty line.
  plat::DString getState() const override;
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;
  // Sash hit-testing and dragging.
  bool mouseEvent(const tlutil::MouseEvent& event) override;

  MuElement* getChild(int index) const override;
  int childCount() const override;
  // Measures every pane again.
  void childSizeChanged() override;
  // The pane's natural length becomes its minimum and size.
  void addChild(std::unique_ptr<MuElement> element) override;
  void removeChild(MuElement* element) override;
  void layoutChildren() override;
  void destroyChildren() override;
  // In units, not scaled.
  virtual int sashSize() const;
  virtual void showPane(bool shown, int index);
  virtual void dragStarted() = 0;
  virtual void dragEnded() = 0;
  // The pointer moved over the splitter without dragging.
  virtual void hover(const rfb::Point& point);

  void setPaneSize(int index, int minimum, int size);
  void resizePane(int size, int index);
  int sashPosition(int index) const;
  int sashWidth(int index) const;
  std::vector<int> sashPositions() const;
  // 0 for hidden panes.
  std::vector<int> paneSizes() const;
  int paneMinimum(int index) const { return panes_.at(index).minimum; }
  // The minimums of the shown panes after index, with a sash each.
  int sizeAfter(int index) const;
  int lastShownBefore(int index) const;
  int activeSash() const { return activeSash_; }
  bool dragging() const { return dragging_; }

protected:
  MuSplitter(MuContainer* parent, const char* name, uint32_t orientation, bool thin, bool fixed);

private:
  struct Pane {
    int minimum;
    int size;
    std::unique_ptr<MuElement> element;
  };
  bool stacked() const { return orientation_ != 0; }
  int along(const Size& s) const { return stacked() ? s.y : s.x; }
  int naturalLength(const MuElement* e) const;
  void checkSash(int index, bool widthBound) const;

  ChildList<Pane> panes_;
  bool dragging_ = false;
  int activeSash_ = -1;
  int dragStart_ = 0;
  int sizeAtDragStart_ = 0;
  uint32_t orientation_;
  bool thin_;
  bool fixed_;
};

// A menu that pops up over a dialog; made by the window back-end, owned by
// its creator.
class MuPopupMenu {
public:
  // Open menus by name, for the automation channel; the window back-end
  // enters and erases them. Names need not be unique.
  using Registry = std::multimap<std::string, ui::Menu*>;

  static std::unique_ptr<MuPopupMenu> create(const char* name, ui::MenuActionCallback* callback);
  virtual ~MuPopupMenu();

  virtual ui::Menu* menu() = 0;
  virtual void popupAtPointer() = 0;
  virtual void popupAt(const rfb::Point& position) = 0;

  // Under element, aligned left (0), centred (1) or right (2) to it.
  static void popupBelow(MuPopupMenu* menu, MuElement* element, int align, int menuWidth);

  static Registry& registry();
  // Erases every entry of that name.
  static void unregisterMenus(const char* name);

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
// back-end, owned by its creator. It wraps a dialog of its own.
class MuAutoHider {
public:
  using Callback = MuAutoHiderCallback;
  static std::unique_ptr<MuAutoHider> create(const char* name, const Size& size, int side, int visibleStrip,
                                             Callback* callback);
  virtual ~MuAutoHider();
  // Forwarded to the callback given at creation.
  virtual void visibilityChanged(bool visible, bool animating);

  // --- Back-end ---
  // The wrapped dialog.
  virtual MuDialog* element() = 0;
  // Null hides the window and detaches it.
  virtual void setParentWindow(MuDialog::WindowHandle parent) = 0;
  virtual MuDialog::WindowHandle nativeWindow() = 0;

  // --- On the wrapped dialog ---
  virtual void setBackgroundColour(const char* name);
  virtual void addObserver(MuObserver* observer, bool add);
  virtual void relayout();

protected:
  explicit MuAutoHider(Callback* callback) : callback_(callback) {}

private:
  Callback* callback_;
};

} // namespace mui
