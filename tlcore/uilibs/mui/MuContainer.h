// Elements that own children: the abstract container (child access, search
// by dotted path, focus search, layout hooks) and the container of at most
// one child.
//
// A container owns its children from addChild on; removeChild and the
// container's destructor delete them. A child is built with its parent
// already set and then handed to addChild by its kind's create operation.
// Loop thread only.
#pragma once

#include <memory>

#include "mui/MuElement.h"

namespace mui {

class MuContainer : public MuElement {
public:
  bool isLocked() const override;
  MuElement* focusedElement() override;
  // Sets the size, then lays out the children.
  void setSize(const Size& size) override;
  void styleChanged() override;
  const char* typeName() const override;
  // Unnamed children are transparent: they are searched with the whole
  // path. Of several equal names the first whose search succeeds wins.
  MuElement* findElement(const char* path) override;
  void relayout() override;
  void checkLayout(MuLayoutCheckObserver* observer) override;

  // --- Children ---
  // A negative index counts from the end; out of range gives null.
  virtual MuElement* getChild(int index) const = 0;
  virtual int childCount() const = 0;
  // Lays out the children again, then tells the parent, up to the root.
  virtual void childSizeChanged();
  // Takes ownership of a child built with this container as its parent.
  virtual void addChild(std::unique_ptr<MuElement> element) = 0;
  // Removes the child and deletes it.
  virtual void removeChild(MuElement* element) = 0;
  // Offset of the children's coordinate origin.
  virtual rfb::Point childOrigin() const;
  virtual void layoutChildren();
  virtual void destroyChildren();

  void destroyChild(MuElement* element);

protected:
  MuContainer(MuContainer* parent, const char* name);
};

class MuContainerSingle : public MuContainer {
public:
  ~MuContainerSingle() override;

  MuElement* getChild(int index) const override;
  int childCount() const override;
  // Replaces the child; the previous one is deleted.
  void addChild(std::unique_ptr<MuElement> element) override;
  void removeChild(MuElement* element) override;
  void destroyChildren() override;

protected:
  MuContainerSingle(MuContainer* parent, const char* name);

private:
  std::unique_ptr<MuElement> child_;
};

} // namespace mui
