// The leaf kinds: the controls of a dialog. Each is built through its
// factory by the bound back-end, which derives from the kind; a kind's
// create operation adds the new element to its parent, which owns it from
// then on. Here each kind holds its creation arguments and answers its type
// word. The spacer needs no back-end: it keeps its own geometry.
// Loop thread only.
#pragma once

#include <stdint.h>

#include "mui/MuElement.h"

namespace plat {
namespace Markup {
class LinkCallback;
}
} // namespace plat

namespace mui {

class MuButton : public MuElement {
public:
  enum Type : uint32_t { kNormal = 0, kCustom = 1, kHyperlink = 2 };
  static MuButton* create(MuContainer* parent, const char* name, const char* label, uint32_t type,
                          uint32_t styleFlags, uint32_t alignment);
  const char* typeName() const override;

protected:
  MuButton(MuContainer* parent, const char* name, const char* label, uint32_t type, uint32_t styleFlags,
           uint32_t alignment);
  uint32_t type_;
  uint32_t styleFlags_;
  uint32_t alignment_;
};

class MuCheck : public MuElement {
public:
  enum Type : uint32_t { kNormal = 0, kRadio = 1 };
  static MuCheck* create(MuContainer* parent, const char* name, const char* label, uint32_t type,
                         MuCheck* radioPeer);
  const char* typeName() const override;

protected:
  MuCheck(MuContainer* parent, const char* name, const char* label, uint32_t type, MuCheck* radioPeer);
  uint32_t type_;
  MuCheck* radioPeer_;
};

class MuChoice : public MuElement {
public:
  static MuChoice* create(MuContainer* parent, const char* name, const char* label);
  const char* typeName() const override;

protected:
  MuChoice(MuContainer* parent, const char* name, const char* label);
};

class MuEdit : public MuElement {
public:
  enum Type : uint32_t { kText = 0, kPassword = 1, kMultiline = 2 };
  static MuEdit* create(MuContainer* parent, const char* name, const char* label, uint32_t type, int option);
  const char* typeName() const override;

protected:
  MuEdit(MuContainer* parent, const char* name, const char* label, uint32_t type, int option);
  uint32_t type_;
  int option_;
};

class MuImage : public MuElement {
public:
  static MuImage* create(MuContainer* parent, const char* name, const char* imageName, const Size& size);
  const char* typeName() const override;

protected:
  MuImage(MuContainer* parent, const char* name, const char* imageName, const Size& size);
  plat::String imageName_;
  Size imageSize_;
};

class MuLine : public MuElement {
public:
  static MuLine* create(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness);
  const char* typeName() const override;

protected:
  MuLine(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness);
  bool horizontal_;
  bool etched_;
  int thickness_;
};

class MuList : public MuElement {
public:
  static MuList* create(MuContainer* parent, const char* name, uint32_t styleFlags, int option);
  const char* typeName() const override;

protected:
  MuList(MuContainer* parent, const char* name, uint32_t styleFlags, int option);
  uint32_t styleFlags_;
  int option_;
};

class MuSlider : public MuElement {
public:
  static MuSlider* create(MuContainer* parent, const char* name, uint32_t direction);
  const char* typeName() const override;

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
  static MuStatic* create(MuContainer* parent, const char* name, const char* text, uint32_t type);
  const char* typeName() const override;

protected:
  MuStatic(MuContainer* parent, const char* name, const char* text, uint32_t type);
  uint32_t type_;
};

// May take a key typed into a superbox before the superbox does.
class MuSuperboxKeyHandler {
public:
  virtual bool superboxKey(MuSuperbox* superbox, uint32_t key) = 0;
  virtual ~MuSuperboxKeyHandler();
};

class MuSuperbox : public MuElement {
public:
  using KeyHandler = MuSuperboxKeyHandler;
  static MuSuperbox* create(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
                            int popupHeight);
  const char* typeName() const override;

protected:
  MuSuperbox(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
             int popupHeight);
  KeyHandler* keyHandler_;
  int popupHeight_;
};

class MuText : public MuElement {
public:
  static MuText* create(MuContainer* parent, const char* name, const char* markup,
                        plat::Markup::LinkCallback* linkCallback, uint32_t flag);
  const char* typeName() const override;

protected:
  MuText(MuContainer* parent, const char* name, const char* markup, plat::Markup::LinkCallback* linkCallback,
         uint32_t flag);
  plat::String markup_;
  plat::Markup::LinkCallback* linkCallback_;
  uint32_t flag_;
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
