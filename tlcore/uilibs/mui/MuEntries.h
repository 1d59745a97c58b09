// The entry kinds: the text edit (plain, password or multi-line, with an
// optional filter of what may be typed), the drop-down choice, and the
// superbox, an entry whose list drops down in a popup dialog of its own.
// Each is a leaf kind (MuLeaves.h) built through its factory by the bound
// back-end and owned by its parent from its create operation on; the
// back-end holds the text and the items. An edit borrows its filter and a
// superbox its key handler; a superbox owns its popup dialog. A secret
// edit's text leaves only through getSecret. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>

#include "mui/MuElement.h"

namespace mui {

// A drop-down choice whose entry may hold a text of no item.
class MuChoice : public MuElement {
public:
  static MuChoice* create(MuContainer* parent, const char* name, const char* label);
  const char* typeName() const override;
  plat::DString getState() const override;
  // "click" (shown in its tree): activated; "select" N: changed;
  // "settext" T: changed.
  bool doAction(const char* action, const char* argument) override;

  virtual void select(int index) = 0;
  // The item whose text is the entry's, or -1.
  virtual int selectedIndex() const = 0;
  virtual void setText(const char* text) = 0;
  virtual plat::String text() const = 0;
  virtual void insertItem(int index, const char* text) = 0;
  virtual void removeItem(int index) = 0;
  virtual void clearItems() = 0;

protected:
  MuChoice(MuContainer* parent, const char* name, const char* label);
};

class MuEdit : public MuElement {
public:
  enum Type : uint32_t { kText = 0, kPassword = 1, kMultiline = 2 };

  // Asked before a text reaches the entry; false refuses it.
  class Filter {
  public:
    virtual bool accept(MuEdit* edit, const char* text) = 0;
    virtual ~Filter();
  };
  // Whole decimal numbers in [minimum, maximum] without leading zeros; the
  // empty text, and "-" alone when negatives are allowed, pass while typing.
  class NumericFilter : public Filter {
  public:
    NumericFilter(int32_t minimum, int32_t maximum) : minimum_(minimum), maximum_(maximum) {}
    bool accept(MuEdit* edit, const char* text) override;

  private:
    int32_t minimum_;
    int32_t maximum_;
  };

  static MuEdit* create(MuContainer* parent, const char* name, const char* label, uint32_t type, int option);
  const char* typeName() const override;
  // The value of a secret edit is "<hidden>".
  plat::DString getState() const override;
  // "settext" T (T required): changed.
  bool doAction(const char* action, const char* argument) override;

  virtual void setText(const char* text) = 0;
  // The text; "" for a secret edit, whose text only getSecret gives.
  virtual plat::String getText() const = 0;
  virtual plat::SecureString getSecret() const = 0;
  // A text edit that shows a secret in clear: its back-end keeps the text
  // in storage wiped when replaced, as a password edit does.
  virtual void setSensitive(bool sensitive) { sensitive_ = sensitive; }
  bool isSecret() const { return type_ == kPassword || sensitive_; }
  // Shown by the back-end in an empty entry.
  virtual void setHint(const char* hint);
  // A negative start clears the selection; a negative length runs to the
  // end.
  virtual void setSelection(int start, int length) = 0;
  // The start of the selection; length (may be null) gets its length.
  virtual int getSelection(int* length) const = 0;
  // Not owned; null accepts everything.
  virtual void setFilter(Filter* filter);
  // Any 32-bit number.
  void setNumeric();

  uint32_t type() const { return type_; }
  Filter* filter() const { return filter_; }

protected:
  MuEdit(MuContainer* parent, const char* name, const char* label, uint32_t type, int option);
  uint32_t type_;
  int option_;
  Filter* filter_ = nullptr;
  bool sensitive_ = false;
};

// May take a key typed into a superbox before the superbox does.
class MuSuperboxKeyHandler {
public:
  virtual bool superboxKey(MuSuperbox* superbox, uint32_t key) = 0;
  virtual ~MuSuperboxKeyHandler();
};

// An entry with a list that drops down in a popup dialog of its own.
class MuSuperbox : public MuElement {
public:
  using KeyHandler = MuSuperboxKeyHandler;
  // The popup is named from the dialog's name and the superbox's path.
  static MuSuperbox* create(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
                            int popupHeight);
  ~MuSuperbox() override;
  const char* typeName() const override;
  plat::DString getState() const override;
  // "settext" T: changed; "pressenter": the key handling of Return.
  bool doAction(const char* action, const char* argument) override;

  // Places the popup under the entry, as wide as it, and shows it; or
  // hides it.
  virtual void showPopup(bool show);
  virtual plat::String getText() const = 0;
  // The back-end selects the whole new text.
  virtual void setText(const char* text) = 0;
  virtual void setHint(const char* hint);
  // The entry part, relative to the element.
  virtual rfb::Rect fieldRect() const = 0;
  // A key typed into the entry: the key handler first; Tab, Return and
  // Escape hide the popup, and Escape is taken when the popup was shown.
  bool onKey(uint32_t key);

  MuDialog* popup() const { return popup_.get(); }

protected:
  MuSuperbox(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
             int popupHeight);
  KeyHandler* keyHandler_;
  int popupHeight_;

private:
  std::unique_ptr<MuDialog> popup_;
};

} // namespace mui
