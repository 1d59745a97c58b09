// Elements that own children: the abstract container (child access, search
// by dotted path, focus search, layout hooks) and the container of at most
// one child.
//
// A container owns its children from addChild on; removeChild and the
// container's destructor delete them. A child is built with its parent
// already set and then handed to addChild by its kind's create operation.
// Containers of many children keep them in a ChildList, which takes each
// child out of the list before deleting it. Loop thread only.
#pragma once

#include <memory>
#include <vector>

#include "mui/MuElement.h"
#include "plat/Exception.h"

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

  // The children in order, each in the container's own record of it: Entry
  // has a member `element` (std::unique_ptr<MuElement>) that owns the child
  // and whatever else the container keeps beside it.
  template <class Entry> class ChildList {
  public:
    ChildList() = default;
    // Deletes the children, the last first.
    ~ChildList() { destroyAll(); }
    ChildList(const ChildList&) = delete;
    ChildList& operator=(const ChildList&) = delete;

    // --- Access ---
    // A negative index counts from the end; out of range gives null.
    MuElement* get(int index) const
    {
      const int n = count();
      if (index < 0)
        index += n;
      return index >= 0 && index < n ? entries_[index].element.get() : nullptr;
    }
    int count() const { return (int)entries_.size(); }
    bool empty() const { return entries_.empty(); }
    // The position of element's entry, or -1.
    int indexOf(const MuElement* element) const
    {
      for (size_t i = 0; i < entries_.size(); i++) {
        if (entries_[i].element.get() == element)
          return (int)i;
      }
      return -1;
    }
    // The entry of element, or null.
    Entry* find(const MuElement* element)
    {
      const int i = indexOf(element);
      return i < 0 ? nullptr : &entries_[i];
    }
    const Entry* find(const MuElement* element) const { return const_cast<ChildList*>(this)->find(element); }
    Entry& operator[](int index) { return entries_[index]; }
    const Entry& operator[](int index) const { return entries_[index]; }
    // std::out_of_range for an index out of range.
    Entry& at(int index) { return entries_.at(index); }
    const Entry& at(int index) const { return entries_.at(index); }
    typename std::vector<Entry>::iterator begin() { return entries_.begin(); }
    typename std::vector<Entry>::iterator end() { return entries_.end(); }
    typename std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
    typename std::vector<Entry>::const_iterator end() const { return entries_.end(); }

    // --- Changes ---
    // Appends the entry; its element must be set.
    void add(Entry entry) { insert(count(), std::move(entry)); }
    // Inserts the entry before the one at index (0 to count()).
    void insert(int index, Entry entry)
    {
      PLAT_ASSERT_TEXT(entry.element, "element");
      PLAT_ASSERT(index >= 0 && index <= count());
      entries_.insert(entries_.begin() + index, std::move(entry));
    }
    // Removes the entry at index and hands it over, child and all.
    Entry take(int index)
    {
      Entry taken = std::move(entries_.at(index));
      entries_.erase(entries_.begin() + index);
      return taken;
    }
    // Removes element's entry, then deletes element; false for a stranger.
    bool destroy(const MuElement* element)
    {
      const int i = indexOf(element);
      if (i < 0)
        return false;
      std::unique_ptr<MuElement> gone = std::move(entries_[i].element);
      entries_.erase(entries_.begin() + i);
      return true;
    }
    // Deletes every child, the last first.
    void destroyAll()
    {
      while (!entries_.empty()) {
        std::unique_ptr<MuElement> last = std::move(entries_.back().element);
        entries_.pop_back();
      }
    }

  private:
    std::vector<Entry> entries_;
  };

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
