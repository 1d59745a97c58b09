// The text kinds: static text (plain, aligned, a heading, detail or
// selectable) and marked-up text whose links are handed to a link
// callback. Each is a leaf kind (MuLeaves.h) built through its factory by
// the bound back-end and owned by its parent from its create operation on;
// the link callback is borrowed. Loop thread only.
#pragma once

#include <stdint.h>

#include <vector>

#include "mui/MuElement.h"

namespace plat {
namespace Markup {
class LinkCallback;
}
} // namespace plat

namespace mui {

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

} // namespace mui
