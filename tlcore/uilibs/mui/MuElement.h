// The element model: the toolkit-neutral tree every dialog is made of.
//
// A MuElement is one control or container: an optional dotted name, a
// label, enabled and locked flags, a text style, observers, and one owned
// back-end object (MuCommon) that shows it on screen. Application code talks
// only to elements and observers; a back-end derives from the element kind
// and attaches its MuCommon.
//
// Ownership: a container owns its children; an element owns its back-end and
// style record but not its observers, its parent or its mouse callback. The
// destructor tells no observer and leaves other elements' observer lists
// alone: whoever registered an element as an observer removes it first.
//
// Events flow upwards: notify() offers an event to the element's observers,
// then to every ancestor's, up to the dialog, with the source unchanged.
// Observers may add or remove observers, destroy elements (the source
// included) or raise further events from inside an event: each notify keeps
// a record on the element that removals and the destructor update, so a
// removed observer is not called later in the same event and a destroyed
// element is never touched again. Setters never raise events; only user
// input does. Loop thread only; nothing is locked.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <vector>

#include "mui/Forward.h"
#include "plat/DString.h"
#include "plat/Markup.h"
#include "plat/String.h"
#include "rfb/Rect.h"
#include "tlutil/MouseCallback.h"

namespace mui {

// Sizes are (width, height) in the x and y of a point.
using Size = rfb::Point;

class MuObserver {
public:
  // Event codes elements send.
  enum Code : uint32_t {
    kChanged = 0,
    kActivated = 1,
    kRowSecondary = 2,
    kDialogClosed = 3,
    kFocusIn = 4,
    kFocusOut = 5,
    kLaidOut = 6,
  };

  // Dispatches by code: 0 changed, 1 activated, 3 dialogClosed and 6
  // dialogLaidOut with the root of source's tree; other codes reach only an
  // override of event itself.
  virtual void event(MuElement* source, uint32_t code);
  virtual void activated(MuElement* /*source*/, uint32_t /*code*/) {}
  virtual void changed(MuElement* /*source*/, uint32_t /*code*/) {}
  virtual void dialogClosed(MuElement* /*dialog*/) {}
  virtual void dialogLaidOut(MuElement* /*dialog*/) {}
  virtual ~MuObserver();
};

// What an element asks of its back-end. Positions are relative to the
// parent element; rectangles to the element itself.
class MuCommon {
public:
  virtual ~MuCommon();
  virtual void setShown(bool shown) = 0;
  // The element's own flag, whatever its ancestors show.
  virtual bool isShown() const = 0;
  virtual void setEnabled(bool enabled) = 0;
  virtual void setFocus() = 0;
  virtual bool hasFocus() const = 0;
  virtual void setTooltip(const char* text) = 0;
  virtual void setSize(const Size& size) = 0;
  virtual Size getSize() const = 0;
  virtual int preferredWidth(int height) const = 0;
  virtual int preferredHeight(int width) const = 0;
  virtual void setPosition(const rfb::Point& position) = 0;
  virtual rfb::Point getPosition() const = 0;
  virtual void styleChanged() = 0;
  // Asks the enclosing widgets to scroll the rectangle into view.
  virtual void ensureVisible(const rfb::Rect& rect) = 0;
  virtual void invalidate(const rfb::Rect& rect) = 0;
};

// Told of every element that does not fit the space it was given.
class MuLayoutCheckObserver {
public:
  virtual void layoutProblem(MuElement* element, const char* message) = 0;
  virtual ~MuLayoutCheckObserver();
};

class MuElement : public MuObserver, public tlutil::MouseCallback {
public:
  enum Flags : uint32_t { kDisabled = 1, kLocked = 2 };

  ~MuElement() override;
  MuElement(const MuElement&) = delete;
  MuElement& operator=(const MuElement&) = delete;

  // --- Showing, focus and geometry (forwarded to the back-end; without one,
  // queries answer false, 0 or a zero size) ---
  virtual void setShown(bool shown);
  virtual bool isShown() const;
  // Own locked flag; containers also answer true for a shown locked child.
  virtual bool isLocked() const;
  // Focuses the element and tells its dialog.
  virtual void setFocus();
  virtual bool hasFocus() const;
  virtual MuElement* focusedElement();
  virtual void setTooltip(const char* text);
  virtual void setSize(const Size& size);
  virtual Size getSize() const;
  virtual void setPosition(const rfb::Point& position);
  virtual rfb::Point getPosition() const;
  // The parent's absolute position plus the own; window back-ends override
  // it for the root.
  virtual rfb::Point getAbsolutePosition() const;
  virtual int preferredWidth(int height) const;
  virtual int preferredHeight(int width) const;

  // --- Style and painting ---
  virtual void setStyle(const plat::Markup::Style& style);
  virtual void styleChanged();
  virtual void ensureVisible(const rfb::Rect& rect);
  virtual void invalidate(const rfb::Rect& rect);
  // Labelled kinds size their label column with these.
  virtual void setLabelWidth(int labelRule, int widgetRule);
  virtual int labelWidth() const;

  // --- What the automation channel reads and does ---
  virtual const char* typeName() const;
  // The state dump: the five base lines and the label; kinds append theirs.
  virtual plat::DString getState() const;
  virtual plat::DString getItems() const;
  // The element at a dotted path below this one; itself for null.
  virtual MuElement* findElement(const char* path);
  virtual void relayout();
  // A named action as user input would do it; false when refused.
  virtual bool doAction(const char* action, const char* argument);
  // Offered every pointer gesture of the element's widgets; forwards to the
  // mouse callback when one is set.
  bool mouseEvent(const tlutil::MouseEvent& event) override;
  // Reports to observer every part that does not fit its size.
  virtual void checkLayout(MuLayoutCheckObserver* observer);
  // Called after the enabled or locked state changed.
  virtual void stateChanged();

  // --- State flags ---
  void setEnabled(bool enabled);
  void setLocked(bool locked);
  uint32_t flags() const { return flags_; }
  // Shown, and so is every ancestor.
  bool isShownInTree() const;

  // --- Observers and events ---
  // add false removes every registration of observer, also from the events
  // in progress on this element.
  void addObserver(MuObserver* observer, bool add);
  // Delivers code from source to this element's observers, then bubbles to
  // the parent. Returns early when an observer destroyed this element; an
  // exception from an observer ends the bubbling and passes on.
  void notify(MuElement* source, uint32_t code);

  // --- Tree ---
  const char* getName() const { return name_.get(); }
  const char* getLabel() const { return label_.get(); }
  MuContainer* getParent() const { return parent_; }
  // Names from the root down, joined with "."; unnamed elements add nothing.
  plat::String getPathName() const;
  // The root of the tree (the dialog inside a dialog).
  MuElement* getDialog();
  MuCommon* common() const { return common_.get(); }
  void setMouseCallback(tlutil::MouseCallback* callback) { mouseCallback_ = callback; }

  // --- Style record ---
  // The own record, else the nearest ancestor's.
  const plat::Markup::Style& effectiveStyle() const;
  // The own record, made on first use.
  plat::Markup::Style& ensureStyle();
  void setColour(const char* name);
  void setBackgroundColour(const char* name);
  void setTextSize(int size);

protected:
  MuElement(MuContainer* parent, const char* name, const char* label);

  // The back-end attaches itself; the element deletes it.
  void setCommon(std::unique_ptr<MuCommon> common);
  void setLabelText(const char* label) { label_ = plat::String(label); }
  // The whole decimal number an action was given; false for none or for
  // anything else.
  static bool intArgument(const char* argument, int* value);
  // The word for a kind's type in its state lines; "Unknown" out of range.
  template <size_t N> static const char* nameOf(const char* const (&names)[N], uint32_t type)
  {
    return type < N ? names[type] : "Unknown";
  }

private:
  // One event in progress on this element.
  struct Notification {
    // The observers still to be called, the next one last.
    std::vector<MuObserver*> pending;
    Notification* previous = nullptr;
    bool destroyed = false;
  };

  std::unique_ptr<MuCommon> common_;
  std::vector<MuObserver*> observers_;
  Notification* activeNotifications_ = nullptr;
  plat::String label_;
  plat::String name_;
  MuContainer* parent_;
  uint32_t flags_ = 0;
  std::unique_ptr<plat::Markup::Style> style_;
  tlutil::MouseCallback* mouseCallback_ = nullptr;
};

} // namespace mui
