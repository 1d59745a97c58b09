#include "mui/MuEntriesWvw.h"

#include "plat/Colour.h"

namespace mui {

namespace {

plat::Colour elementBackground(const MuElement* e, plat::Colour fallback)
{
  const plat::Markup::Style& s = e->effectiveStyle();
  return plat::getColor(s.background.get(), fallback);
}

// What every labelled entry sets on its widget: the label without its
// mnemonic, the gap after it, where input goes and the style.
template <typename W> void setUpLabelled(W& w, const char* label, wvw::WInputHandler* handler, const wvw::WStyle* style)
{
  w.label().setText(label ? label : "");
  w.label().stripMnemonic();
  w.setSpacing(Mui::metric(Mui::kLabelGap));
  w.setInputHandler(handler);
  w.setStyle(style);
}

} // namespace

// --- Choice -----------------------------------------------------------------

MuChoiceWvw::MuChoiceWvw(MuContainer* parent, const char* name, const char* label, uint32_t flags)
  : MuChoice(parent, name, label),
    choice_("", flags & kEditable ? wvw::WChoice::Editable::Yes : wvw::WChoice::Editable::No, 255),
    flags_(flags)
{
  setUpLabelled(choice_, label, this, &wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &choice_));
}

MuChoiceWvw::~MuChoiceWvw()
{
  setCommon(nullptr);
}

void MuChoiceWvw::select(int index)
{
  {
    Setting s(setting_);
    choice_.choice().selectItem(index);
  }
  choice_.choice().selectAll();
}

int MuChoiceWvw::selectedIndex() const
{
  const char* text = const_cast<wvw::WLabelChoice&>(choice_).choice().getText();
  for (const auto& [id, label] : labels_) {
    if (label == (text ? text : ""))
      return id;
  }
  return -1;
}

void MuChoiceWvw::setText(const char* text)
{
  {
    Setting s(setting_);
    choice_.choice().setText(text);
  }
  choice_.choice().selectAll();
  choice_.choice().setCompletions(flags_ & kAutocomplete);
}

plat::String MuChoiceWvw::text() const
{
  return plat::String(const_cast<wvw::WLabelChoice&>(choice_).choice().getText());
}

void MuChoiceWvw::insertItem(int index, const char* text)
{
  std::string shown;
  for (const char* p = text ? text : ""; *p; p++)
    shown.append(*p == '&' ? "&&" : std::string(1, *p));
  labels_[index] = text ? text : "";
  choice_.choice().setItem(index, shown.c_str());
  choice_.choice().setCompletions(flags_ & kAutocomplete);
}

void MuChoiceWvw::removeItem(int index)
{
  labels_.erase(index);
  choice_.choice().removeItem(index);
  choice_.choice().setCompletions(flags_ & kAutocomplete);
}

void MuChoiceWvw::clearItems()
{
  labels_.clear();
  choice_.choice().clearItems();
  choice_.choice().setCompletions(flags_ & kAutocomplete);
}

plat::DString MuChoiceWvw::getItems() const
{
  std::vector<std::string> lines;
  const_cast<wvw::WLabelChoice&>(choice_).choice().listItems(lines);
  plat::DString s;
  for (const std::string& line : lines)
    s.appendf("%s\n", line.c_str());
  return s;
}

bool MuChoiceWvw::valueChanged(wvw::Widget* source)
{
  if (source != &choice_.choice() && source != &choice_.choice().entry())
    return false;
  if (!setting_)
    notify(this, kChanged);
  return true;
}

// --- Edit -------------------------------------------------------------------

MuEditWvw::MuEditWvw(MuContainer* parent, const char* name, const char* label, uint32_t type, int option)
  : MuEdit(parent, name, label, type, option), edit_("", 8192)
{
  setUpLabelled(edit_, label, this, &wstyle_);
  entryStyle_ = wstyle_;
  edit_.edit().setStyle(&entryStyle_);
  edit_.edit().setFilter(this);
  if (type == kPassword) {
    edit_.edit().setPassword(true);
    edit_.edit().repaint();
  }
  setCommon(std::make_unique<MuCommonWvw>(this, &edit_));
}

MuEditWvw::~MuEditWvw()
{
  setCommon(nullptr);
}

void MuEditWvw::setText(const char* text)
{
  Setting s(setting_);
  edit_.edit().setText(text ? text : "", wvw::WEdit::Caret::AtEnd);
}

plat::String MuEditWvw::getText() const
{
  return plat::String(isSecret() ? "" : const_cast<wvw::WLabelEdit&>(edit_).edit().getText());
}

plat::SecureString MuEditWvw::getSecret() const
{
  return plat::SecureString(const_cast<wvw::WLabelEdit&>(edit_).edit().getText());
}

void MuEditWvw::setSensitive(bool sensitive)
{
  MuEdit::setSensitive(sensitive);
  edit_.edit().setSensitive(sensitive);
}

void MuEditWvw::setHint(const char* hint)
{
  if (plat::strCmpNull(hint_.get(), hint) == 0)
    return;
  hint_ = plat::String(hint);
  edit_.edit().setPlaceholder(hint);
}

void MuEditWvw::setSelection(int start, int length)
{
  wvw::WEdit& e = edit_.edit();
  if (start < 0)
    e.setSelection(e.getCaret(), e.getCaret());
  else
    e.setSelection(start, length < 0 ? -1 : start + length);
}

int MuEditWvw::getSelection(int* length) const
{
  wvw::WEdit& e = const_cast<wvw::WLabelEdit&>(edit_).edit();
  if (length)
    *length = e.selectionEnd() - e.selectionStart();
  return e.selectionStart();
}

void MuEditWvw::setFocus()
{
  MuEdit::setFocus();
  edit_.edit().setSelection(0, -1);
}

void MuEditWvw::styleChanged()
{
  entryStyle_.contentBg = elementBackground(this, plat::Colour{255, 255, 255});
  edit_.edit().repaint();
}

bool MuEditWvw::valueChanged(wvw::Widget* source)
{
  if (source != &edit_.edit())
    return false;
  if (!setting_)
    notify(this, kChanged);
  return true;
}

bool MuEditWvw::filter(wvw::WEdit*, const char* candidate, uint32_t)
{
  return setting_ || !filter_ || filter_->accept(this, candidate);
}

// --- Superbox ---------------------------------------------------------------

MuSuperboxWvw::MuSuperboxWvw(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
                             int popupHeight)
  : MuSuperbox(parent, name, label, keyHandler, popupHeight), edit_("", 255)
{
  setUpLabelled(edit_, label, this, &wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &edit_));
}

MuSuperboxWvw::~MuSuperboxWvw()
{
  setCommon(nullptr);
}

plat::String MuSuperboxWvw::getText() const
{
  return plat::String(const_cast<wvw::WLabelEdit&>(edit_).edit().getText());
}

void MuSuperboxWvw::setText(const char* text)
{
  Setting s(setting_);
  edit_.edit().setText(text ? text : "", wvw::WEdit::Caret::AtEnd);
  edit_.edit().setSelection(0, -1);
}

void MuSuperboxWvw::setHint(const char* hint)
{
  if (plat::strCmpNull(hint_.get(), hint) == 0)
    return;
  hint_ = plat::String(hint);
  edit_.edit().setPlaceholder(hint);
}

rfb::Rect MuSuperboxWvw::fieldRect() const
{
  wvw::WLabelEdit& e = const_cast<wvw::WLabelEdit&>(edit_);
  return e.getChildRect(&e.edit());
}

bool MuSuperboxWvw::key(uint32_t keysym, bool down, wvw::Widget* source)
{
  return source == &edit_.edit() && down && onKey(keysym);
}

bool MuSuperboxWvw::valueChanged(wvw::Widget* source)
{
  if (source != &edit_.edit())
    return false;
  if (!setting_)
    notify(this, kChanged);
  return true;
}

} // namespace mui
