// Tab sheets: a tabbed pager showing one sheet under a strip of tabs, with
// arrow buttons that scroll the strip when the tabs do not fit, Ctrl+Tab
// switching and callbacks that may veto a change.
//
// The pager owns its tabs and sheets; a sheet wraps one page widget it
// does not own and is a child of the pager only while it is current. The
// callbacks are borrowed. A callback or a tab's activation may destroy the
// pager: the dispatch then ends without touching it. Loop thread only.
#pragma once

#include <list>
#include <memory>
#include <vector>

#include "wvw/WChoice.h"
#include "wvw/WLabel.h"
#include "wvw/WSmallControls.h"

namespace wvw {

class WTab : public WBevelButton {
public:
  static constexpr int kFaceTop = 238;
  static constexpr int kFaceUnselected = 184;

  explicit WTab(const char* title);

  void setSelected(bool selected);
  bool isSelected() const { return selected_; }
  WLabel& label() { return label_; }

  bool resized(Widget* source) override;
  bool wantsFocus() override { return isVisible() && isEnabled() && !selected_; }
  rfb::Point preferredSize() override;
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  WLabel label_;
  bool selected_ = false;
};

class WSheet : public WLayout {
public:
  static constexpr int kMargin = 10;

  // content is borrowed (null for none).
  explicit WSheet(Widget* content);

  Widget* getContent() const { return content_; }
  void setMargin(int margin);
  int getMargin() const { return margin_; }
  void setTabRect(const rfb::Rect& r) { tabRect_ = r; }
  const rfb::Rect& getTabRect() const { return tabRect_; }
  void setStripOffset(int offset) { stripOffset_ = offset; }

  bool resized(Widget* source) override;
  rfb::Point preferredSize() override;
  void paint(rfb::WritablePixelBuffer& pb) override;

protected:
  void childDestroyed(Widget* child) override;

private:
  Widget* content_;
  rfb::Rect tabRect_;
  int stripOffset_ = 0;
  int margin_ = kMargin;
};

class WTabSheets : public WLayout {
public:
  class Callback {
  public:
    virtual ~Callback();
    // False vetoes the change.
    virtual bool mayChange(int current, int next) = 0;
  };

  static constexpr int kStripStep = 25;
  static constexpr int kTabMargin = 10;

  WTabSheets();
  ~WTabSheets() override;

  // --- Sheets (indices are checked: out of range is fatal) ---
  // index -1 (or past the end) appends; returns the sheet's index.
  int addSheet(const char* title, Widget* content, int index = -1);
  void removeSheet(int index);
  WSheet* sheetAt(int index);
  WTab* tabAt(int index);
  int sheetCount() const { return (int)sheets_.size(); }
  int currentIndex() const { return current_; }
  // -1 shows no sheet; the callbacks may veto it.
  void selectSheet(int index);
  void setTabTitle(int index, const char* text);
  void setSheetMargin(int margin);
  void addCallback(Callback* callback) { callbacks_.push_back(callback); }
  void removeCallback(Callback* callback);
  // Where the current sheet's content sits in the pager.
  rfb::Point contentOrigin();

  // --- The strip ---
  int stripOffset() const { return stripOffset_; }
  bool arrowsShown() const { return arrowsShown_; }
  WArrowButton& leftArrow() { return leftArrow_; }
  WArrowButton& rightArrow() { return rightArrow_; }
  WCanvas& strip() { return strip_; }
  void relayout();

  // --- Widget ---
  bool key(uint32_t keysym, bool down, Widget* source) override;
  bool activated(Widget* source) override;
  bool resized(Widget* source) override;
  rfb::Point preferredSize() override;

private:
  void checkIndex(int index, size_t size, const char* bound) const;
  int stripHeight() const { return leftArrow_.height(); }
  // Places the tabs side by side from the left; sets the tab rectangles.
  void placeTabs();
  void scrollStrip(int delta);

  std::vector<std::unique_ptr<WTab>> tabs_;
  std::vector<std::unique_ptr<WSheet>> sheets_;
  int current_ = -1;
  int stripOffset_ = 0;
  bool arrowsShown_ = false;
  WArrowButton leftArrow_;
  WArrowButton rightArrow_;
  WCanvas strip_;
  std::list<Callback*> callbacks_;
};

} // namespace wvw
