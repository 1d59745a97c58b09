// The button kinds: the push button (plain, drawn from images, or a
// hyperlink) and the check box, which may be a radio button in a group.
// Each is a leaf kind (MuLeaves.h) built through its factory by the bound
// back-end and owned by its parent from its create operation on; the
// back-end holds a check's state. A radio group is shared by its members
// and goes with the last of them. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>

#include "mui/MuElement.h"

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

} // namespace mui
