#include "mui/MuLeaves.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "mui/MuContainer.h"
#include "mui/MuDialog.h"
#include "mui/Mui.h"
#include "plat/Exception.h"
#include "plat/Markup.h"
#include "plat/MarkupParser.h"
#include "rfb/KeysymNames.h"
#include "rfb/PixBuffer.h"

namespace mui {

namespace {

template <size_t N> const char* nameOf(const char* const (&names)[N], uint32_t index)
{
  return index < N ? names[index] : "Unknown";
}

} // namespace

// --- Button -----------------------------------------------------------------

MuButton* MuButton::create(MuContainer* parent, const char* name, const char* label, uint32_t type,
                           uint32_t styleFlags, uint32_t alignment)
{
  return createChild<MuButton>(muButtonFactory, "muButtonFactory", parent, name, label, type, styleFlags,
                               alignment);
}

MuButton::MuButton(MuContainer* parent, const char* name, const char* label, uint32_t type, uint32_t styleFlags,
                   uint32_t alignment)
  : MuElement(parent, name, label), type_(type), styleFlags_(styleFlags), alignment_(alignment)
{
}

const char* MuButton::typeName() const
{
  return "button";
}

plat::DString MuButton::getState() const
{
  static const char* const kTypes[] = {"Normal", "Custom", "Hyperlink"};
  plat::DString s = MuElement::getState();
  s.appendf("element Button\ntype %s\n", nameOf(kTypes, type_));
  if (!imageName_.isNull())
    s.appendf("image %s\n", imageName_.get());
  return s;
}

bool MuButton::doAction(const char* action, const char*)
{
  if (strcmp(action, "click") != 0 || flags() != 0)
    return false;
  notify(this, kActivated);
  return true;
}

void MuButton::setLabel(const char* label)
{
  if (plat::strCmpNull(getLabel(), label) != 0)
    setLabelText(label);
}

void MuCheck::setLabel(const char* label)
{
  if (plat::strCmpNull(getLabel(), label) != 0)
    setLabelText(label);
}

void MuButton::setImage(const char* name, const Size&, int, bool keepName)
{
  if (!keepName)
    imageName_ = plat::String(name);
}

void MuButton::setImageSizes(const Size& topLeft, const Size& bottomRight)
{
  insetTopLeft_ = topLeft;
  insetBottomRight_ = bottomRight;
  const Size size = getSize();
  invalidate(rfb::Rect(0, 0, size.x, size.y));
}

// --- Check ------------------------------------------------------------------

// The members of a radio group, in join order; each holds the group.
class MuCheck::Group : public MuObserver {
public:
  void join(MuCheck* check)
  {
    members_.push_back(check);
    check->addObserver(this, true);
  }
  void leave(MuCheck* check)
  {
    check->addObserver(this, false);
    members_.erase(std::remove(members_.begin(), members_.end(), check), members_.end());
  }
  void changed(MuElement* source, uint32_t) override
  {
    for (MuCheck* member : members_)
      member->setChecked(member == source);
  }

private:
  std::vector<MuCheck*> members_;
};

MuCheck* MuCheck::create(MuContainer* parent, const char* name, const char* label, uint32_t type,
                         MuCheck* radioPeer)
{
  return createChild<MuCheck>(muCheckFactory, "muCheckFactory", parent, name, label, type, radioPeer);
}

MuCheck::MuCheck(MuContainer* parent, const char* name, const char* label, uint32_t type, MuCheck* radioPeer)
  : MuElement(parent, name, label), type_(type)
{
  if (type_ != kRadio)
    return;
  group_ = radioPeer && radioPeer->group_ ? radioPeer->group_ : std::make_shared<Group>();
  group_->join(this);
}

MuCheck::~MuCheck()
{
  if (group_)
    group_->leave(this);
}

const char* MuCheck::typeName() const
{
  return "check";
}

plat::DString MuCheck::getState() const
{
  static const char* const kTypes[] = {"Normal", "Radio"};
  plat::DString s = MuElement::getState();
  s.appendf("element Check\ntype %s\nvalue %d\nindeterminate %d\n", nameOf(kTypes, type_), isChecked() ? 1 : 0,
            isIndeterminate() ? 1 : 0);
  return s;
}

bool MuCheck::doAction(const char* action, const char* argument)
{
  int n = 0;
  if (strcmp(action, "click") != 0 || !intArgument(argument, &n) || flags() != 0 || !isShownInTree())
    return false;
  setChecked(n != 0);
  notify(this, kChanged);
  return true;
}

// --- Choice -----------------------------------------------------------------

MuChoice* MuChoice::create(MuContainer* parent, const char* name, const char* label)
{
  return createChild<MuChoice>(muChoiceFactory, "muChoiceFactory", parent, name, label);
}

MuChoice::MuChoice(MuContainer* parent, const char* name, const char* label) : MuElement(parent, name, label) {}

const char* MuChoice::typeName() const
{
  return "choice";
}

plat::DString MuChoice::getState() const
{
  plat::DString s = MuElement::getState();
  s.appendf("element Choice\nvalue %d\nvaluestr %s\n", selectedIndex(), text().str());
  return s;
}

bool MuChoice::doAction(const char* action, const char* argument)
{
  if (flags() != 0)
    return false;
  if (strcmp(action, "click") == 0) {
    if (!isShownInTree())
      return false;
    notify(this, kActivated);
    return true;
  }
  if (strcmp(action, "select") == 0) {
    int n = 0;
    intArgument(argument, &n);
    select(n);
  } else if (strcmp(action, "settext") == 0) {
    setText(argument ? argument : "");
  } else {
    return false;
  }
  notify(this, kChanged);
  return true;
}

// --- Edit -------------------------------------------------------------------

MuEdit::Filter::~Filter() = default;

bool MuEdit::NumericFilter::accept(MuEdit*, const char* text)
{
  if (!text || !*text)
    return true;
  if (strcmp(text, "-") == 0)
    return minimum_ < 0;
  const char* digits = text + (*text == '-' || *text == '+' ? 1 : 0);
  if (!*digits || strspn(digits, "0123456789") != strlen(digits))
    return false;
  if (strcmp(text, "-0") == 0 || (digits[0] == '0' && digits[1]))
    return false;
  errno = 0;
  const long long value = strtoll(text, nullptr, 10);
  if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
    return false;
  return value >= minimum_ && value <= maximum_;
}

MuEdit* MuEdit::create(MuContainer* parent, const char* name, const char* label, uint32_t type, int option)
{
  return createChild<MuEdit>(muEditFactory, "muEditFactory", parent, name, label, type, option);
}

MuEdit::MuEdit(MuContainer* parent, const char* name, const char* label, uint32_t type, int option)
  : MuElement(parent, name, label), type_(type), option_(option)
{
}

const char* MuEdit::typeName() const
{
  return "edit";
}

plat::DString MuEdit::getState() const
{
  static const char* const kTypes[] = {"Text", "Password", "Multiline"};
  plat::DString s = MuElement::getState();
  s.appendf("element Edit\ntype %s\nvalue %s\n", nameOf(kTypes, type_),
            isSecret() ? "<hidden>" : getText().str());
  return s;
}

bool MuEdit::doAction(const char* action, const char* argument)
{
  if (strcmp(action, "settext") != 0 || !argument || flags() != 0)
    return false;
  setText(argument);
  notify(this, kChanged);
  return true;
}

void MuEdit::setHint(const char*) {}

void MuEdit::setFilter(Filter* filter)
{
  filter_ = filter;
}

void MuEdit::setNumeric()
{
  static NumericFilter anyNumber(INT32_MIN, INT32_MAX);
  setFilter(&anyNumber);
}

// --- Image ------------------------------------------------------------------

MuImage* MuImage::create(MuContainer* parent, const char* name, const char* imageName, const Size& size)
{
  return createChild<MuImage>(muImageFactory, "muImageFactory", parent, name, imageName, size);
}

MuImage::MuImage(MuContainer* parent, const char* name, const char* imageName, const Size& size)
  : MuElement(parent, name, nullptr), imageName_(imageName), imageSize_(size)
{
}

const char* MuImage::typeName() const
{
  return "image";
}

plat::DString MuImage::getState() const
{
  const Size size = getSize();
  plat::DString s = MuElement::getState();
  s.appendf("element Image\nvalue %s\nimSize %d%s%d\n", imageName_.isNull() ? "<unknown>" : imageName_.get(),
            size.x, ",", size.y);
  return s;
}

void MuImage::setImage(const char* name, const Size& size)
{
  imageName_ = plat::String(name);
  imageSize_ = size;
}

void MuImage::setImageBuffer(std::unique_ptr<rfb::PixelBuffer>)
{
  imageName_ = plat::String();
}

// --- Line -------------------------------------------------------------------

MuLine* MuLine::create(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness)
{
  return createChild<MuLine>(muLineFactory, "muLineFactory", parent, name, horizontal, etched, thickness);
}

MuLine::MuLine(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness)
  : MuElement(parent, name, nullptr), horizontal_(horizontal), etched_(etched), thickness_(etched ? 2 : thickness)
{
}

const char* MuLine::typeName() const
{
  return "line";
}

plat::DString MuLine::getState() const
{
  plat::DString s = MuElement::getState();
  s.appendf("element Line\ntype %s type %s\n", horizontal_ ? "horizontal" : "vertical",
            etched_ ? "etched" : "color");
  return s;
}

int MuLine::preferredWidth(int height) const
{
  return horizontal_ ? MuElement::preferredWidth(height) : thickness_;
}

int MuLine::preferredHeight(int width) const
{
  return horizontal_ ? thickness_ : MuElement::preferredHeight(width);
}

void MuLine::setThickness(int thickness)
{
  thickness_ = etched_ ? 2 : thickness;
  styleChanged();
}

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

// --- Slider -----------------------------------------------------------------

MuSlider* MuSlider::create(MuContainer* parent, const char* name, uint32_t direction)
{
  return createChild<MuSlider>(muSliderFactory, "muSliderFactory", parent, name, direction);
}

MuSlider::MuSlider(MuContainer* parent, const char* name, uint32_t direction)
  : MuElement(parent, name, nullptr), direction_(direction)
{
}

const char* MuSlider::typeName() const
{
  return "slider";
}

plat::DString MuSlider::getState() const
{
  plat::DString s = MuElement::getState();
  s.appendf("element Slider\nvalue %d\nmin %d\nmax %d\n", value(), minimum(), maximum());
  return s;
}

bool MuSlider::doAction(const char* action, const char* argument)
{
  int n = 0;
  if (strcmp(action, "click") != 0 || !intArgument(argument, &n) || flags() != 0 || !isShownInTree())
    return false;
  setValue(std::min(std::max(n, minimum()), maximum()));
  notify(this, kChanged);
  return true;
}

// --- Static text ------------------------------------------------------------

MuStatic* MuStatic::create(MuContainer* parent, const char* name, const char* text, uint32_t type)
{
  return createChild<MuStatic>(muStaticFactory, "muStaticFactory", parent, name, text, type);
}

MuStatic::MuStatic(MuContainer* parent, const char* name, const char* text, uint32_t type)
  : MuElement(parent, name, text), type_(type)
{
  if (type_ == kHeading)
    ensureStyle().weight = plat::Markup::Style::kBold;
}

const char* MuStatic::typeName() const
{
  return "static";
}

plat::DString MuStatic::getState() const
{
  static const char* const kTypes[] = {"Text",    "LeftText", "CenteredText", "RightText",
                                       "Heading", "Detail",   "Selectable"};
  plat::DString s = MuElement::getState();
  s.appendf("element Static\ntype %s\nbold %d\n", nameOf(kTypes, type_), effectiveStyle().weight >= 550 ? 1 : 0);
  return s;
}

void MuStatic::setText(const char* text, bool bold, bool singleLine)
{
  if (plat::strCmpNull(getLabel(), text) != 0)
    setLabelText(text);
  singleLine_ = singleLine;
  if (bold && type_ != kHeading)
    ensureStyle().weight = plat::Markup::Style::kBold;
}

// --- Superbox ---------------------------------------------------------------

MuSuperboxKeyHandler::~MuSuperboxKeyHandler() = default;

MuSuperbox* MuSuperbox::create(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
                               int popupHeight)
{
  return createChild<MuSuperbox>(muSuperboxFactory, "muSuperboxFactory", parent, name, label, keyHandler,
                                 popupHeight);
}

MuSuperbox::MuSuperbox(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
                       int popupHeight)
  : MuElement(parent, name, label), keyHandler_(keyHandler), popupHeight_(popupHeight)
{
  MuDialog* dialog = dynamic_cast<MuDialog*>(getDialog());
  plat::DString popupName;
  popupName.appendf("%s_%s_popup", dialog && dialog->getName() ? dialog->getName() : "", getPathName().str());
  std::replace(popupName.data(), popupName.data() + popupName.length(), '.', '_');
  popup_ = MuDialog::create(popupName.get(), "", Size(1, popupHeight), 0x20, dialog, nullptr);
  popup_->setMargin(0);
}

MuSuperbox::~MuSuperbox() = default;

const char* MuSuperbox::typeName() const
{
  return "superbox";
}

plat::DString MuSuperbox::getState() const
{
  plat::DString s = MuElement::getState();
  s.appendf("element Superbox\nvalue %s\npopup-dialogid %s\n", getText().str(), popup_->getName());
  return s;
}

bool MuSuperbox::doAction(const char* action, const char* argument)
{
  if (flags() != 0)
    return false;
  if (strcmp(action, "pressenter") == 0)
    return onKey(rfb::keysym::Return);
  if (strcmp(action, "settext") != 0)
    return false;
  setText(argument ? argument : "");
  notify(this, kChanged);
  return true;
}

void MuSuperbox::showPopup(bool show)
{
  if (show) {
    const rfb::Rect field = fieldRect();
    popup_->setPosition(getAbsolutePosition().translate(rfb::Point(field.topLeft.x, field.bottomRight.y)));
    popup_->setSize(Size(field.width(), popup_->getSize().y));
  }
  popup_->setShown(show);
}

void MuSuperbox::setHint(const char*) {}

bool MuSuperbox::onKey(uint32_t key)
{
  if (keyHandler_ && keyHandler_->superboxKey(this, key))
    return true;
  if (key != rfb::keysym::Tab && key != rfb::keysym::Return && key != rfb::keysym::Escape)
    return false;
  const bool wasShown = popup_->isShown();
  showPopup(false);
  return key == rfb::keysym::Escape && wasShown;
}

// --- Marked-up text ---------------------------------------------------------

namespace {

// Collects the link targets of a markup text in order.
class LinkLister : public plat::Markup::Handler {
public:
  explicit LinkLister(std::vector<plat::String>& links) : links_(links) {}
  void beginParagraph(int, float, float) override {}
  void endParagraph(bool) override {}
  void text(const plat::Markup::Style&, const char*) override {}
  void link(const plat::Markup::Style&, const char* href, const char*) override
  {
    links_.emplace_back(href);
  }
  void endDocument() override {}

private:
  std::vector<plat::String>& links_;
};

} // namespace

MuText* MuText::create(MuContainer* parent, const char* name, const char* markup,
                       plat::Markup::LinkCallback* linkCallback, uint32_t flag)
{
  return createChild<MuText>(muTextFactory, "muTextFactory", parent, name, markup, linkCallback, flag);
}

MuText* MuText::createRightAligned(MuContainer* parent, const char* name, const char* text)
{
  plat::DString markup;
  plat::Markup::appendDivStart(markup, 2, nullptr);
  plat::Markup::appendEscaped(markup, text).append("</div>");
  return create(parent, name, markup.get(), nullptr, 0);
}

MuText* MuText::createBold(MuContainer* parent, const char* name, const char* text)
{
  plat::DString markup;
  plat::Markup::appendBold(markup, text, nullptr, plat::Markup::Style::kNormalSize);
  return create(parent, name, markup.get(), nullptr, 0);
}

MuText::MuText(MuContainer* parent, const char* name, const char* markup, plat::Markup::LinkCallback* linkCallback,
               uint32_t flag)
  : MuElement(parent, name, nullptr), linkCallback_(linkCallback), flag_(flag)
{
  MuText::setMarkup(markup);
}

const char* MuText::typeName() const
{
  return "text";
}

plat::DString MuText::getState() const
{
  plat::DString s = MuElement::getState();
  s.append("element Text\n");
  for (size_t i = 0; i < links_.size(); i++)
    s.appendf("%d %s\n", (int)i, links_[i].str());
  return s;
}

bool MuText::doAction(const char* action, const char* argument)
{
  int n = 0;
  if (strcmp(action, "click") != 0 || !intArgument(argument, &n) || !linkCallback_ || n < 0 ||
      n >= (int)links_.size())
    return false;
  linkCallback_->linkActivated(links_[n].str());
  return true;
}

void MuText::setMarkup(const char* markup)
{
  if (plat::strCmpNull(markup_.get(), markup) != 0)
    markup_ = plat::String(markup);
  links_.clear();
  if (markup && *markup) {
    LinkLister lister(links_);
    plat::Markup::ParserHtml::instance().parse(markup, &lister);
  }
}

void MuText::addLink(const char* target)
{
  links_.emplace_back(target);
}

// --- Spacer -----------------------------------------------------------------

MuSpacer* MuSpacer::create(MuContainer* parent, int width, int height)
{
  std::unique_ptr<MuSpacer> spacer(new MuSpacer(parent, width, height));
  MuSpacer* added = spacer.get();
  parent->addChild(std::move(spacer));
  return added;
}

MuSpacer::MuSpacer(MuContainer* parent, int width, int height)
  : MuElement(parent, nullptr, nullptr), preferred_(width, height)
{
}

void MuSpacer::setShown(bool shown)
{
  shown_ = shown;
}

bool MuSpacer::isShown() const
{
  return shown_;
}

void MuSpacer::setSize(const Size& size)
{
  size_ = size;
}

Size MuSpacer::getSize() const
{
  return shown_ ? size_ : Size();
}

void MuSpacer::setPosition(const rfb::Point& position)
{
  position_ = position;
}

rfb::Point MuSpacer::getPosition() const
{
  return position_;
}

int MuSpacer::preferredWidth(int) const
{
  return preferred_.x;
}

int MuSpacer::preferredHeight(int) const
{
  return preferred_.y;
}

const char* MuSpacer::typeName() const
{
  return "spacer";
}

plat::DString MuSpacer::getState() const
{
  const Size size = getSize();
  return plat::DString::format("%d,%d %dx%d", position_.x, position_.y, size.x, size.y);
}

} // namespace mui
