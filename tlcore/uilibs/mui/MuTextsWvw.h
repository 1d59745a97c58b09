// The widget back-ends of the text kinds: static and marked-up text, each
// shown by a rich-text widget it owns. Static text measures itself once
// per text; a marked-up text's links reach its link callback. Loop thread
// only.
#pragma once

#include "mui/MuLeafWvw.h"
#include "mui/MuTexts.h"
#include "plat/Markup.h"
#include "wvw/WRichText.h"

namespace mui {

class MuStaticWvw : public MuStatic, public LeafWvw {
public:
  MuStaticWvw(MuContainer* parent, const char* name, const char* text, uint32_t type);
  ~MuStaticWvw() override;

  void setText(const char* text, bool bold, bool singleLine) override;
  void setSize(const Size& size) override;
  void styleChanged() override;
  // Both measured once per text (layouts ask often; parsing is dear).
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;
  bool resized(wvw::Widget* source) override;

  wvw::WRichText& widget() { return text_; }

private:
  plat::DString markup(int width) const;
  // Sets the markup when it changed.
  void rebuild();

  wvw::WRichText text_;
  int builtWidth_ = -1;
  mutable int naturalWidth_ = -1;
  mutable rfb::Point heightFor_{-1, 0};
};

class MuTextWvw : public MuText, public LeafWvw, public plat::Markup::LinkCallback {
public:
  MuTextWvw(MuContainer* parent, const char* name, const char* markup, plat::Markup::LinkCallback* linkCallback,
            uint32_t flag);
  ~MuTextWvw() override;

  void setMarkup(const char* markup) override;
  void styleChanged() override;
  bool linkActivated(const char* href) override;

  wvw::WRichText& widget() { return text_; }

private:
  wvw::WRichText text_;
};

} // namespace mui
