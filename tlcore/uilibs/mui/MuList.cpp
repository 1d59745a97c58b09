#include "mui/MuList.h"

#include <string.h>

#include <algorithm>

#include "mui/Mui.h"
#include "plat/Exception.h"

namespace mui {

// --- List -------------------------------------------------------------------

MuList* MuList::create(MuContainer* parent, const char* name, uint32_t styleFlags, int option)
{
  return createChild<MuList>(muListFactory, "muListFactory", parent, name, styleFlags, option);
}

MuList::MuList(MuContainer* parent, const char* name, uint32_t styleFlags, int option)
  : MuElement(parent, name, nullptr), styleFlags_(styleFlags), option_(option)
{
}

const char* MuList::typeName() const
{
  return "list";
}

plat::DString MuList::getState() const
{
  plat::DString s = MuElement::getState();
  s.appendf("element List\nvalue %d\n", selected_);
  return s;
}

plat::DString MuList::getItems() const
{
  plat::DString s;
  for (size_t r = 0; r < rows_.size(); r++) {
    s.appendf("%d:", (int)r);
    for (size_t c = 0; c < rows_[r].size(); c++)
      s.appendf("%s\"%s\"", c ? "|" : "", rows_[r][c].str());
    s.append("\n");
  }
  return s;
}

bool MuList::doAction(const char* action, const char* argument)
{
  int n = 0;
  if (strcmp(action, "select") != 0 || !intArgument(argument, &n) || flags() != 0)
    return false;
  select(std::max(-1, std::min(n, rowCount() - 1)));
  notify(this, kChanged);
  return true;
}

void MuList::select(int row)
{
  selected_ = row;
}

void MuList::addColumn(uint32_t id, uint32_t, const char*, int width)
{
  columns_.push_back(Column{id, width});
  for (auto& row : rows_)
    row.resize(columns_.size());
}

void MuList::insertRow(int index)
{
  if (index < 0 || index > rowCount())
    index = rowCount();
  rows_.insert(rows_.begin() + index, std::vector<plat::String>(columns_.size()));
}

void MuList::removeRow(int index)
{
  if (index >= 0 && index < rowCount())
    rows_.erase(rows_.begin() + index);
}

void MuList::clearRows()
{
  rows_.clear();
}

void MuList::insertRowWith(int index, std::initializer_list<const char*> cells)
{
  index = std::max(0, std::min(index, rowCount()));
  insertRow(index);
  setRow(index, cells);
}

void MuList::setRow(int row, std::initializer_list<const char*> cells)
{
  size_t c = 0;
  for (const char* text : cells) {
    if (c >= columns_.size())
      break;
    setCell(row, columns_[c++].id, text);
  }
}

int MuList::columnIndex(uint32_t id) const
{
  for (size_t c = 0; c < columns_.size(); c++) {
    if (columns_[c].id == id)
      return (int)c;
  }
  return -1;
}

const char* MuList::cell(int row, int column) const
{
  PLAT_ASSERT(row >= 0 && row < rowCount() && column >= 0 && column < columnCount());
  return rows_[row][column].str();
}

void MuList::storeCell(int row, uint32_t columnId, const char* text)
{
  const int col = columnIndex(columnId);
  PLAT_ASSERT(col >= 0);
  PLAT_ASSERT(row >= 0 && row < rowCount());
  rows_[row][col] = plat::String(text);
}

} // namespace mui
