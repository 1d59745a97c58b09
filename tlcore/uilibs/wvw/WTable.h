// The list and table widget: rows of cells in columns, an optional header
// row, one selected row, a vertical scrollbar when the rows do not fit.
//
// The table holds no cell data: its owner answers the callback at paint
// time (texts, icons, styles, owner-painted rows and cells) and hears about
// selectability and double clicks through it. The callback is borrowed;
// the table owns its column records and scrollbar. Selection changes are
// reported through valueChanged, clicks through activated; a handler or
// the callback may destroy the table from either. Loop thread only.
#pragma once

#include <vector>

#include "plat/Markup.h"
#include "wvw/WScroll.h"

namespace wvw {

class WTable : public WLayout {
public:
  class Callback {
  public:
    virtual ~Callback();
    // UTF-8, borrowed until the next call; null for none.
    virtual const char* cellText(WTable* table, int row, int columnId) = 0;
    virtual rfb::PixelBuffer* cellIcon(WTable* table, int row, int columnId) = 0;
    virtual bool canSelect(WTable* table, int row) = 0;
    // columnId -1 asks for the whole row; rect is in the table's
    // coordinates. True when the callback painted it itself.
    virtual bool paintCell(WTable* table, int row, int columnId, rfb::WritablePixelBuffer& pb,
                           const rfb::Rect& rect) = 0;
    // True when the request was filled with a style of its own.
    virtual bool cellStyle(WTable* table, int row, int columnId, plat::Markup::Style& style) = 0;
    virtual void doubleClicked(WTable* table, int row, int columnId) = 0;
  };

  enum Options : uint32_t {
    kHeader = 1,
    // A click that hits no selectable row leaves the selection alone.
    kKeepSelection = 2,
  };
  enum ColumnKind : uint32_t { kText = 0, kIcon = 1 };

  struct Column {
    int32_t id;
    uint32_t kind;
    plat::String title;
    int width; // negative: automatic
    rfb::Point iconSize;
    int hAlign, vAlign; // 0 start, 1 centre, 2 end
  };
  struct Hit {
    int row = -1;
    int columnId = -1;
  };

  static constexpr int kScrollbarWidth = 16;
  static constexpr int kBorder = 2;
  static constexpr int kCellPadX = 4, kCellPadY = 4;
  static constexpr int kIconPadX = 2, kIconPadY = 2;

  WTable(Callback* callback, uint32_t options);
  ~WTable() override;

  // --- Columns (an iconSize of 0 x 0 means 16 x 16) ---
  void addColumn(int id, uint32_t kind, const char* title, int width, const rfb::Point& iconSize, int hAlign,
                 int vAlign);
  void removeColumn(int id);
  const std::vector<Column>& columns() const { return columns_; }
  // The width a column is drawn with.
  int columnWidth(const Column& c) const;

  // --- Rows and selection ---
  // Clears the selected row.
  void setRowCount(int count);
  int rowCount() const { return rowCount_; }
  void relayout();
  void setSelection(int row, int columnId);
  int selectedRow() const { return selectedRow_; }
  int selectedColumn() const { return selectedColumn_; }
  // delta +1 or -1; false when nothing was selected.
  bool moveSelection(int delta);
  int firstVisibleRow() const { return scrollbar_.value(); }
  int visibleRows() const { return visibleRows_; }
  int rowHeight() const { return rowHeight_; }
  int headerHeight() const { return headerHeight_; }
  int autoWidth() const { return autoWidth_; }
  WScrollbar& scrollbar() { return scrollbar_; }

  // False outside the rows' area; row -1 below the rows; columnId -1 when
  // no column is hit.
  bool hitTest(const rfb::Point& point, Hit* hit);

  // --- Widget ---
  bool key(uint32_t keysym, bool down, Widget* source) override;
  bool buttonDown(int button, Widget* source) override;
  bool buttonUp(int button, Widget* source) override;
  bool focusChanged(bool backward, Widget* source) override;
  bool valueChanged(Widget* source) override;
  bool resized(Widget* source) override;
  bool timerExpired(plat::Timer* timer) override;
  bool wantsFocus() override { return isVisible() && isEnabled(); }
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  int columnIndex(int id) const;
  int selectedColumnId() const { return selectedColumn_ >= 0 ? columns_[selectedColumn_].id : -1; }
  int scrollbarShownWidth() const { return scrollbar_.isVisible() ? kScrollbarWidth : 0; }
  void paintRow(rfb::WritablePixelBuffer& pb, int row, const rfb::Rect& rect);

  Callback* callback_;
  std::vector<Column> columns_;
  bool hasHeader_;
  bool keepSelection_;
  WScrollbar scrollbar_;
  int rowCount_ = 0;
  int selectedRow_ = -1;
  int selectedColumn_ = -1;
  int rowHeight_ = 0;
  int headerHeight_ = 0;
  int autoWidth_ = 0;
  int visibleRows_ = 0;
  plat::Timer clickTimer_;
  int lastClickRow_ = -1;
  int lastClickColumn_ = -1;
};

} // namespace wvw
