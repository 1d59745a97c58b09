// The list kind: rows of text cells under columns, one row selected or
// none. A leaf kind (MuLeaves.h) built through its factory by the bound
// back-end and owned by its parent from its create operation on. The model
// keeps the columns and the cells' texts; the back-end shows them and
// stores each cell it is given through storeCell. Loop thread only.
#pragma once

#include <stdint.h>

#include <initializer_list>
#include <vector>

#include "mui/MuElement.h"

namespace mui {

// Rows of text cells under columns.
class MuList : public MuElement {
public:
  static MuList* create(MuContainer* parent, const char* name, uint32_t styleFlags, int option);
  const char* typeName() const override;
  plat::DString getState() const override;
  // One line per row: 0:"a"|"b".
  plat::DString getItems() const override;
  // "select" N (N required, clamped to -1 .. last row): changed.
  bool doAction(const char* action, const char* argument) override;

  virtual void select(int row);
  int selectedIndex() const { return selected_; }
  // kind 0 is a text column, others show the named image of the cell text.
  virtual void addColumn(uint32_t id, uint32_t kind, const char* title, int width);
  // A row of empty cells; a negative or too large index appends.
  virtual void insertRow(int index);
  // An index out of range is ignored.
  virtual void removeRow(int index);
  virtual void clearRows();
  // The back-end keeps the text with storeCell and shows it.
  virtual void setCell(int row, uint32_t columnId, const char* text) = 0;
  // A row at index (clamped) with its cells in column order.
  void insertRowWith(int index, std::initializer_list<const char*> cells);
  void setRow(int row, std::initializer_list<const char*> cells);

  int rowCount() const { return (int)rows_.size(); }
  int columnCount() const { return (int)columns_.size(); }
  // The position of the column with that id, or -1.
  int columnIndex(uint32_t id) const;
  const char* cell(int row, int column) const;

protected:
  MuList(MuContainer* parent, const char* name, uint32_t styleFlags, int option);
  // Fatal assertions for a row or column id that does not exist.
  void storeCell(int row, uint32_t columnId, const char* text);
  uint32_t styleFlags_;
  int option_;
  int selected_ = -1;

private:
  struct Column {
    uint32_t id;
    int width;
  };
  std::vector<Column> columns_;
  std::vector<std::vector<plat::String>> rows_;
};

} // namespace mui
