// The process-wide object of the UI model: the scaled metrics every kind
// sizes itself with, the registry of live dialogs with their ids, and the
// observers attached to every dialog; and the factories through which each
// element kind is built.
//
// The model names no toolkit: the program's entry makes a back-end's Mui the
// instance and binds every factory to that back-end's creators before any
// element is built. A kind created while its factory is unbound is a fatal
// assertion naming the factory. Dialog ids count up from 0 and are never
// reused. The instance is not owned here and must outlive every dialog.
// Loop thread only; nothing is locked.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <vector>

#include "mui/MuDialog.h"
#include "plat/Exception.h"

namespace plat {
namespace Markup {
class LinkCallback;
}
} // namespace plat

namespace ui {
// The X layer's menu action callback, which popup menus carry.
class MenuActionCallback;
} // namespace ui

namespace mui {

class Mui {
public:
  enum Metric {
    kSpacing = 0,
    kLabelGap,
    kDialogMargin,
    kFrameMargin,
    kButtonHeight,
    kButtonWidth,
    kRowHeight,
    kIndent,
    kMetricCount
  };
  using MetricTable = uint32_t[kMetricCount];
  // The base metrics in units: 16, 8, 16, 16, 48, 136, 32, 40.
  static const MetricTable kDefaultMetrics;

  // Computes the scaled metrics from the default table.
  Mui();
  virtual ~Mui();
  Mui(const Mui&) = delete;
  Mui& operator=(const Mui&) = delete;

  // --- The instance ---
  static void setInstance(Mui* mui);
  static Mui& instance();
  static bool hasInstance();

  // --- Metrics ---
  // Copies the base table and scales it at the current `ppmm`.
  static void setMetrics(const MetricTable& base);
  static uint32_t baseMetric(Metric m);
  static int metric(Metric m);
  // n units in pixels at the current `ppmm`: n * ppmm / 8, halves away
  // from zero.
  static int scale(int units);

  // --- Dialogs ---
  // Attaches (add true) or detaches the observer on every dialog that
  // exists now and on every later one.
  void addGlobalObserver(MuObserver* observer, bool add);
  const std::map<int, MuDialog*>& dialogs() const { return dialogs_; }
  // The dialog with that id, or null.
  MuDialog* findDialog(int id) const;

private:
  // Only a dialog registers itself, from its constructor and destructor.
  friend class MuDialog;
  void registerDialog(MuDialog* dialog, bool add);

  std::map<int, MuDialog*> dialogs_;
  std::vector<MuObserver*> globalObservers_;
};

// The factories, null until the program's entry binds them. Each returns
// the new element built with its parent set but not yet added to it; its
// kind's create operation hands it to the parent.
using MuAutoHiderFactory = std::unique_ptr<MuAutoHider> (*)(const char* name, const Size& size, int side,
                                                            int visibleStrip, MuAutoHiderCallback* callback);
using MuButtonFactory = std::unique_ptr<MuButton> (*)(MuContainer* parent, const char* name, const char* label,
                                                      uint32_t type, uint32_t styleFlags, uint32_t alignment);
using MuCheckFactory = std::unique_ptr<MuCheck> (*)(MuContainer* parent, const char* name, const char* label,
                                                    uint32_t type, MuCheck* radioPeer);
using MuChoiceFactory = std::unique_ptr<MuChoice> (*)(MuContainer* parent, const char* name, const char* label);
using MuDialogFactory = std::unique_ptr<MuDialog> (*)(const char* name, const char* title, const Size& size,
                                                      uint32_t flags, MuDialog* owner,
                                                      MuDialog::WindowHandle ownerWindow);
using MuEditFactory = std::unique_ptr<MuEdit> (*)(MuContainer* parent, const char* name, const char* label,
                                                  uint32_t type, int option);
using MuFrameFactory = std::unique_ptr<MuFrame> (*)(MuContainer* parent, const char* name, const char* title,
                                                    uint32_t type);
using MuImageFactory = std::unique_ptr<MuImage> (*)(MuContainer* parent, const char* name, const char* imageName,
                                                    const Size& size);
using MuLayoutFactory = std::unique_ptr<MuLayout> (*)(MuContainer* parent, const char* name, uint32_t orientation);
using MuLineFactory = std::unique_ptr<MuLine> (*)(MuContainer* parent, const char* name, bool horizontal, bool etched,
                                                  int thickness);
using MuListFactory = std::unique_ptr<MuList> (*)(MuContainer* parent, const char* name, uint32_t styleFlags,
                                                  int option);
using MuPagerFactory = std::unique_ptr<MuPager> (*)(MuContainer* parent, const char* name, uint32_t kind);
using MuPopupMenuFactory = std::unique_ptr<MuPopupMenu> (*)(const char* name, ui::MenuActionCallback* callback);
using MuScrollFactory = std::unique_ptr<MuScroll> (*)(MuContainer* parent, const char* name, uint32_t style);
using MuSliderFactory = std::unique_ptr<MuSlider> (*)(MuContainer* parent, const char* name, uint32_t direction);
using MuSplitterFactory = std::unique_ptr<MuSplitter> (*)(MuContainer* parent, const char* name, uint32_t orientation,
                                                          bool thin, bool fixed);
using MuStaticFactory = std::unique_ptr<MuStatic> (*)(MuContainer* parent, const char* name, const char* text,
                                                      uint32_t type);
using MuSuperboxFactory = std::unique_ptr<MuSuperbox> (*)(MuContainer* parent, const char* name, const char* label,
                                                          MuSuperboxKeyHandler* keyHandler, int popupHeight);
using MuTextFactory = std::unique_ptr<MuText> (*)(MuContainer* parent, const char* name, const char* markup,
                                                  plat::Markup::LinkCallback* linkCallback, uint32_t flag);

extern MuAutoHiderFactory muAutoHiderFactory;
extern MuButtonFactory muButtonFactory;
extern MuCheckFactory muCheckFactory;
extern MuChoiceFactory muChoiceFactory;
extern MuDialogFactory muDialogFactory;
extern MuEditFactory muEditFactory;
extern MuFrameFactory muFrameFactory;
extern MuImageFactory muImageFactory;
extern MuLayoutFactory muLayoutFactory;
extern MuLineFactory muLineFactory;
extern MuListFactory muListFactory;
extern MuPagerFactory muPagerFactory;
extern MuPopupMenuFactory muPopupMenuFactory;
extern MuScrollFactory muScrollFactory;
extern MuSliderFactory muSliderFactory;
extern MuSplitterFactory muSplitterFactory;
extern MuStaticFactory muStaticFactory;
extern MuSuperboxFactory muSuperboxFactory;
extern MuTextFactory muTextFactory;

// The factory for name, or the fatal assertion whose text is name.
template <class Factory> Factory boundFactory(Factory factory, const char* name, const char* file, int line);

// Calls the factory and hands the new element to its parent, which owns it;
// returns it.
template <class Kind, class Factory, class... Args>
Kind* createChild(Factory factory, const char* factoryName, MuContainer* parent, Args... args);

} // namespace mui

namespace mui {

template <class Factory> Factory boundFactory(Factory factory, const char* name, const char* file, int line)
{
  PLAT_ASSERT_AT(factory, name, file, line);
  return factory;
}

template <class Kind, class Factory, class... Args>
Kind* createChild(Factory factory, const char* factoryName, MuContainer* parent, Args... args)
{
  Factory bound = boundFactory(factory, factoryName, __FILE__, __LINE__);
  PLAT_ASSERT(parent);
  std::unique_ptr<Kind> element = bound(parent, args...);
  Kind* added = element.get();
  parent->addChild(std::move(element));
  return added;
}

} // namespace mui
