#include "mui/MuEntries.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "mui/MuDialog.h"
#include "mui/Mui.h"
#include "rfb/KeysymNames.h"

namespace mui {

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

} // namespace mui
