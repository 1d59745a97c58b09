// The widget back-ends of the entry kinds: a choice, an edit and a
// superbox, each shown by a labelled widget it owns. The superbox's list
// window belongs to the window back-end (MuSuperboxTx in MuWindowsTx.h).
// Loop thread only.
#pragma once

#include <stdint.h>

#include <map>
#include <string>

#include "mui/MuEntries.h"
#include "mui/MuLeafWvw.h"
#include "wvw/WLabelWidget.h"

namespace mui {

class MuChoiceWvw : public MuChoice, public LeafWvw {
public:
  enum Flags : uint32_t { kEditable = 1, kAutocomplete = 2 };

  MuChoiceWvw(MuContainer* parent, const char* name, const char* label, uint32_t flags = kEditable);
  ~MuChoiceWvw() override;

  // Indices are the items' ids.
  void select(int index) override;
  int selectedIndex() const override;
  void setText(const char* text) override;
  plat::String text() const override;
  void insertItem(int index, const char* text) override;
  void removeItem(int index) override;
  void clearItems() override;
  plat::DString getItems() const override;
  void setLabelWidth(int labelRule, int widgetRule) override { choice_.setSizes(labelRule, widgetRule); }
  int labelWidth() const override { return const_cast<wvw::WLabelChoice&>(choice_).choice().preferredWidth(0); }
  bool valueChanged(wvw::Widget* source) override;

  wvw::WLabelChoice& widget() { return choice_; }

private:
  wvw::WLabelChoice choice_;
  std::map<int, std::string> labels_;
  uint32_t flags_;
};

class MuEditWvw : public MuEdit, public LeafWvw, public wvw::WEdit::Filter {
public:
  MuEditWvw(MuContainer* parent, const char* name, const char* label, uint32_t type, int option);
  ~MuEditWvw() override;

  void setText(const char* text) override;
  plat::String getText() const override;
  plat::SecureString getSecret() const override;
  void setSensitive(bool sensitive) override;
  void setHint(const char* hint) override;
  void setSelection(int start, int length) override;
  int getSelection(int* length) const override;
  void setFocus() override;
  void styleChanged() override;
  void setLabelWidth(int labelRule, int widgetRule) override { edit_.setSizes(labelRule, widgetRule); }
  int labelWidth() const override { return const_cast<wvw::WLabelEdit&>(edit_).edit().preferredWidth(0); }
  // Stored only.
  void setExtra(int32_t a, int32_t b) { extra_[0] = a, extra_[1] = b; }

  bool valueChanged(wvw::Widget* source) override;
  bool filter(wvw::WEdit* edit, const char* candidate, uint32_t typedChar) override;

  wvw::WLabelEdit& widget() { return edit_; }

private:
  wvw::WLabelEdit edit_;
  wvw::WStyle entryStyle_;
  plat::String hint_;
  int32_t extra_[2] = {0, 0};
};

class MuSuperboxWvw : public MuSuperbox, public LeafWvw {
public:
  MuSuperboxWvw(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler, int popupHeight);
  ~MuSuperboxWvw() override;

  plat::String getText() const override;
  void setText(const char* text) override;
  void setHint(const char* hint) override;
  rfb::Rect fieldRect() const override;
  bool key(uint32_t keysym, bool down, wvw::Widget* source) override;
  bool valueChanged(wvw::Widget* source) override;

  wvw::WLabelEdit& widget() { return edit_; }

private:
  wvw::WLabelEdit edit_;
  plat::String hint_;
};

} // namespace mui
