// The box layout that arranges every dialog: children in order along one
// axis, a fixed spacing between shown children, each child sized naturally,
// at a fixed length or by a stretch weight, and aligned across the axis.
//
// It answers the two size questions from its children, so nested layouts
// size themselves bottom-up; nothing is cached but the natural lengths of
// the last layout. Only shown children take part. Weights of 0 get no extra
// length. The layout owns its children. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>
#include <vector>

#include "mui/MuContainer.h"
#include "plat/ConfigParameter.h"

namespace mui {

// `_DebugLayout`: back-ends show every element's extent in its own colour.
extern plat::BoolParameter debugLayout;

class MuLayout : public MuContainer {
public:
  enum Orientation : uint32_t { kVertical = 0, kHorizontal = 1 };
  // A child's mode: the size mode in the low nibble, the cross-axis
  // alignment in the next.
  enum Mode : uint32_t {
    kNatural = 0,
    kFixed = 1,
    kStretch = 2,
    kSizeMask = 0x0f,
    kAlignFill = 0x00,
    kAlignStart = 0x10,
    kAlignEnd = 0x20,
    kAlignCentre = 0x30,
    kAlignMask = 0xf0,
  };
  enum Where : uint32_t { kToFront = 0, kToEnd = 1, kBefore = 2, kAfter = 3 };

  // Built through muLayoutFactory and added to parent.
  static MuLayout* create(MuContainer* parent, const char* name, uint32_t orientation);
  ~MuLayout() override;

  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;
  const char* typeName() const override;
  plat::DString getState() const override;
  // Reports shown children that end beyond the layout along its axis, then
  // checks every shown child.
  void checkLayout(MuLayoutCheckObserver* observer) override;

  // --- Children ---
  MuElement* getChild(int index) const override;
  int childCount() const override;
  // Appends the child with the default mode and value 1.
  void addChild(std::unique_ptr<MuElement> element) override;
  // Removes and deletes a child; a stranger is ignored.
  void removeChild(MuElement* element) override;
  void layoutChildren() override;
  // Deletes the children from the last to the first.
  void destroyChildren() override;
  // value: the length for kFixed, the weight for kStretch.
  virtual void setChildLayout(MuElement* child, uint32_t mode, int value);
  // Told after moveChild; a hook for the back-end.
  virtual void childrenReordered();
  // Moves a child to the front or end, or before or after reference (the
  // end when reference is no child), keeping its mode; then lays out.
  void moveChild(MuElement* child, uint32_t where, MuElement* reference);
  // Adds a spacer that, with the gap after it, measures one indent; with
  // stretchAfter, later children stretch with weight 1.
  MuSpacer* addIndent(bool stretchAfter);

  uint32_t orientation() const { return orientation_; }
  int spacing() const { return spacing_; }
  void setSpacing(int spacing) { spacing_ = spacing; }
  uint32_t defaultMode() const { return defaultMode_; }
  void setDefaultMode(uint32_t mode) { defaultMode_ = mode; }
  uint32_t childMode(const MuElement* child) const;
  int childValue(const MuElement* child) const;

protected:
  MuLayout(MuContainer* parent, const char* name, uint32_t orientation);

private:
  struct Child {
    std::unique_ptr<MuElement> element;
    uint32_t mode;
    int value;
  };
  // Along the axis for cross size c, and across it for length l.
  int lengthAlong(const MuElement* e, int c) const;
  int lengthAcross(const MuElement* e, int l) const;
  int preferredAlong(int cross) const;
  int preferredAcross(int length) const;

  uint32_t orientation_;
  int spacing_;
  uint32_t defaultMode_ = kNatural;
  ChildList<Child> children_;
};

} // namespace mui
