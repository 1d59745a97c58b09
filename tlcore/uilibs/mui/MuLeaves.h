// The leaf kinds: the controls of a dialog. Each is built through its
// factory by the bound back-end, which derives from the kind; a kind's
// create operation adds the new element to its parent, which owns it from
// then on. The model part of each kind answers what the automation channel
// and the application see: its type word, its state lines, the named actions
// it accepts and the events they raise. An action is refused (false) while
// the element is disabled or locked, unless the kind says otherwise, and a
// value it changes is set through the kind's operation and then announced
// with kChanged, as a user's input would be.
//
// Where the widget holds a value (a check's state, an edit's text, the items
// of a choice) the operation is pure here and the back-end answers it. The
// spacer needs no back-end: it keeps its own geometry. Loop thread only.
#pragma once

#include <stdint.h>

#include <initializer_list>
#include <memory>
#include <vector>

#include "mui/MuElement.h"

namespace plat {
namespace Markup {
class LinkCallback;
}
} // namespace plat

namespace rfb {
class PixelBuffer;
}

namespace mui {

class MuButton : public MuElement {
public:
  enum Type : uint32_t { kNormal = 0, kCustom = 1, kHyperlink = 2 };
  // Content alignment: left, centred, right.
  enum Align : uint32_t { kLeft = 0, kCentre = 1, kRight = 2 };
  static MuButton* create(MuContainer* parent, const char* name, const char* label, uint32_t type,
                          uint32_t styleFlags, uint32_t alignment);
  const char* typeName() const override;
  plat::DString getState() const override;
  // "click": activated.
  bool doAction(const char* action, const char* argument) override;

  virtual void setLabel(const char* label);
  // A named image for state 0 (normal), 1 (hover) or 2 (pressed); the name
  // is kept for the state dump unless keepName is set.
  virtual void setImage(const char* name, const Size& size, int state, bool keepName);
  virtual void setImageBuffer(std::unique_ptr<rfb::PixelBuffer> image, int state) = 0;
  // The insets of a custom button's images (left and top, right and
  // bottom); the whole button is repainted.
  virtual void setImageSizes(const Size& topLeft, const Size& bottomRight);

  uint32_t type() const { return type_; }
  uint32_t styleFlags() const { return styleFlags_; }
  uint32_t alignment() const { return alignment_; }
  const char* imageName() const { return imageName_.get(); }

protected:
  MuButton(MuContainer* parent, const char* name, const char* label, uint32_t type, uint32_t styleFlags,
           uint32_t alignment);
  uint32_t type_;
  uint32_t styleFlags_;
  uint32_t alignment_;
  plat::String imageName_;
  Size insetTopLeft_;
  Size insetBottomRight_;
};

// A check box, or a radio button in a group: when any member of a group
// changes, the group checks it and unchecks every other member.
class MuCheck : public MuElement {
public:
  enum Type : uint32_t { kNormal = 0, kRadio = 1 };
  // A radio check made with a peer joins the peer's group, else it starts
  // one; the group goes with its last member.
  static MuCheck* create(MuContainer* parent, const char* name, const char* label, uint32_t type,
                         MuCheck* radioPeer);
  ~MuCheck() override;
  const char* typeName() const override;
  plat::DString getState() const override;
  // "click" N (N required; shown in its tree): checked = N != 0, changed.
  bool doAction(const char* action, const char* argument) override;

  // A new label (a language change); the back-end shows it.
  virtual void setLabel(const char* label);
  virtual void setChecked(bool checked) = 0;
  virtual bool isChecked() const = 0;
  // The third state of the box.
  virtual void setIndeterminate() = 0;
  virtual bool isIndeterminate() const = 0;

  uint32_t type() const { return type_; }

protected:
  MuCheck(MuContainer* parent, const char* name, const char* label, uint32_t type, MuCheck* radioPeer);
  uint32_t type_;

private:
  class Group;
  std::shared_ptr<Group> group_;
};

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

class MuImage : public MuElement {
public:
  static MuImage* create(MuContainer* parent, const char* name, const char* imageName, const Size& size);
  const char* typeName() const override;
  plat::DString getState() const override;

  // A named image at that size; the name is kept for the state dump.
  virtual void setImage(const char* name, const Size& size);
  // An image of its own instead of a named one; the name is cleared.
  virtual void setImageBuffer(std::unique_ptr<rfb::PixelBuffer> image);
  // The size of the image shown.
  virtual Size imageSize() const = 0;

  const char* imageName() const { return imageName_.get(); }

protected:
  MuImage(MuContainer* parent, const char* name, const char* imageName, const Size& size);
  plat::String imageName_;
  Size imageSize_;
};

// A separator: as thick as its thickness across, as long as the back-end
// says along.
class MuLine : public MuElement {
public:
  static MuLine* create(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness);
  const char* typeName() const override;
  plat::DString getState() const override;
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;

  // Etched lines are always 2 thick.
  virtual void setThickness(int thickness);
  int thickness() const { return thickness_; }

protected:
  MuLine(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness);
  bool horizontal_;
  bool etched_;
  int thickness_;
};

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

class MuSlider : public MuElement {
public:
  static MuSlider* create(MuContainer* parent, const char* name, uint32_t direction);
  const char* typeName() const override;
  plat::DString getState() const override;
  // "click" N (N required, clamped to the range; shown in its tree): changed.
  bool doAction(const char* action, const char* argument) override;

  virtual void setValue(int value) = 0;
  virtual int value() const = 0;
  virtual void setRange(int minimum, int maximum) = 0;
  virtual int minimum() const = 0;
  virtual int maximum() const = 0;

protected:
  MuSlider(MuContainer* parent, const char* name, uint32_t direction);
  uint32_t direction_;
};

class MuStatic : public MuElement {
public:
  enum Type : uint32_t {
    kText = 0,
    kLeftText = 1,
    kCenteredText = 2,
    kRightText = 3,
    kHeading = 4,
    kDetail = 5,
    kSelectable = 6
  };
  // A heading is bold.
  static MuStatic* create(MuContainer* parent, const char* name, const char* text, uint32_t type);
  const char* typeName() const override;
  plat::DString getState() const override;

  // The text is the element's label; bold makes the own style bold (a
  // heading is already); singleLine is for the back-end.
  virtual void setText(const char* text, bool bold, bool singleLine);
  bool singleLine() const { return singleLine_; }

protected:
  MuStatic(MuContainer* parent, const char* name, const char* text, uint32_t type);
  uint32_t type_;
  bool singleLine_ = false;
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

// Marked-up text whose links are handed to a link callback.
class MuText : public MuElement {
public:
  static MuText* create(MuContainer* parent, const char* name, const char* markup,
                        plat::Markup::LinkCallback* linkCallback, uint32_t flag);
  // The text escaped, right-aligned or bold.
  static MuText* createRightAligned(MuContainer* parent, const char* name, const char* text);
  static MuText* createBold(MuContainer* parent, const char* name, const char* text);
  const char* typeName() const override;
  // One line per link: its index and target.
  plat::DString getState() const override;
  // "click" N: the N-th link to the link callback, enabled or not.
  bool doAction(const char* action, const char* argument) override;

  // Keeps the markup and lists its links in order.
  virtual void setMarkup(const char* markup);
  virtual void addLink(const char* target);
  void setLinkCallback(plat::Markup::LinkCallback* callback) { linkCallback_ = callback; }

  const char* markup() const { return markup_.get(); }
  plat::Markup::LinkCallback* linkCallback() const { return linkCallback_; }
  uint32_t flag() const { return flag_; }

protected:
  MuText(MuContainer* parent, const char* name, const char* markup, plat::Markup::LinkCallback* linkCallback,
         uint32_t flag);
  plat::String markup_;
  plat::Markup::LinkCallback* linkCallback_;
  uint32_t flag_;

private:
  std::vector<plat::String> links_;
};

// Empty space of a fixed preferred size; no back-end.
class MuSpacer : public MuElement {
public:
  static MuSpacer* create(MuContainer* parent, int width, int height);

  void setShown(bool shown) override;
  bool isShown() const override;
  void setSize(const Size& size) override;
  // 0 x 0 while hidden.
  Size getSize() const override;
  void setPosition(const rfb::Point& position) override;
  rfb::Point getPosition() const override;
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;
  const char* typeName() const override;
  // "x,y wxh" alone.
  plat::DString getState() const override;

private:
  MuSpacer(MuContainer* parent, int width, int height);

  const Size preferred_;
  Size size_;
  rfb::Point position_;
  bool shown_ = true;
};

} // namespace mui
