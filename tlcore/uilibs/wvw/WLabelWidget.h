// Labelled controls and the panel: a label beside one other widget with
// width rules (0 natural width, a positive fixed width in pixels, a
// negative weight of the remaining width), its forms with a check box, a
// choice or an edit field; and the titled group box.
//
// Ownership: a labelled widget does not own the widget it is given; its
// three forms own their member widget. A panel owns its title label and
// content layout; the widgets put into the content belong to the owner.
// Loop thread only.
#pragma once

#include "wvw/WChoice.h"
#include "wvw/WEdit.h"
#include "wvw/WLabel.h"
#include "wvw/WSmallControls.h"

namespace wvw {

class WLabelWidget : public WLayout {
public:
  WLabelWidget(const char* text, int labelRule, int widgetRule);

  virtual void setWidgetFirst(bool widgetFirst);
  // Not owned; null removes the widget.
  virtual void setWidget(Widget* widget);
  virtual void setLabelText(const char* text);
  virtual void setSizes(int labelRule, int widgetRule);
  void setSpacing(int spacing);
  // 0 top, 1 centre, 2 bottom.
  void setVAlign(int vAlign);
  WLabel& label() { return label_; }
  Widget* getWidget() const { return widget_; }

  bool resized(Widget* source) override;
  bool enabledChanged(Widget* source) override;
  rfb::Point preferredSize() override;
  int preferredWidth(int height) override;
  int preferredHeight(int width) override;

protected:
  void childDestroyed(Widget* child) override;

private:
  struct Geometry {
    rfb::Rect label, widget;
  };
  Geometry layout(int width, int height);
  bool hasLabel() const;
  // Width by rule for the natural and fixed rules (weights give 0).
  int ruleWidth(Widget* w, int rule, int height) const;
  int spacingFor() const;
  int preferredOf(bool width, int other);

  WLabel label_;
  Widget* widget_ = nullptr;
  bool widgetFirst_ = false;
  int labelRule_;
  int widgetRule_;
  int spacing_ = 4;
  int vAlign_ = 1;
};

class WLabelCheckBox : public WLabelWidget {
public:
  WLabelCheckBox(const char* text, const char* styleName, uint32_t state);
  WCheckBox& checkBox() { return checkBox_; }

  bool buttonDown(int button, Widget* source) override;
  bool buttonUp(int button, Widget* source) override;

private:
  WCheckBox checkBox_;
};

class WLabelChoice : public WLabelWidget {
public:
  WLabelChoice(const char* text, WChoice::Editable editable, int maxLength);
  WChoice& choice() { return choice_; }

private:
  WChoice choice_;
};

class WLabelEdit : public WLabelWidget {
public:
  WLabelEdit(const char* text, int maxLength);
  WEdit& edit() { return edit_; }

private:
  WEdit edit_;
};

class WPanel : public WLayout {
public:
  explicit WPanel(const char* title);

  WLayout& content() { return content_; }
  WLabel& title() { return title_; }

  bool resized(Widget* source) override;
  void setEnabled(bool enabled) override;
  rfb::Point preferredSize() override;
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  WLayout content_;
  WLabel title_;
  int inset_ = 6;
  int titleHalf_;
};

} // namespace wvw
