#include "mui/MuiWvw.h"

#include <stdlib.h>

#include <algorithm>
#include <memory>

#include "mui/MuContainersWvw.h"
#include "mui/MuLayout.h"
#include "mui/MuLeavesWvw.h"
#include "mui/MuWindowsTx.h"
#include "muimisc/ProgressBarWvw.h"
#include "plat/Colour.h"
#include "plat/Configuration.h"
#include "wvw/WSmallControls.h"

namespace mui {

// --- Adapter ----------------------------------------------------------------

MuCommonWvw::MuCommonWvw(MuElement* element, wvw::Widget* widget) : element_(element), widget_(widget)
{
  widget_->setMouseCallback(element);
}

rfb::Point MuCommonWvw::getPosition() const
{
  if (!widget_->getParentLayout())
    return rfb::Point();
  const rfb::Point p = widget_->getPosition();
  const MuContainer* parent = element_->getParent();
  return parent ? p.translate(parent->childOrigin()) : p;
}

void MuCommonWvw::ensureVisible(const rfb::Rect& rect)
{
  if (wvw::WParent* parent = widget_->getParent())
    parent->showRect(widget_, rect);
}

void MuCommonWvw::invalidate(const rfb::Rect& rect)
{
  auto clamp = [](int v) { return std::max(-32768, std::min(v, 32767)); };
  const rfb::Rect r(clamp(rect.topLeft.x), clamp(rect.topLeft.y), clamp(rect.bottomRight.x),
                    clamp(rect.bottomRight.y));
  widget_->invalidate(r.isEmpty() ? rfb::Region() : rfb::Region(r));
}

wvw::Widget* MuCommonWvw::getWidget(const MuElement* element, bool assertCommon)
{
  PLAT_ASSERT(element);
  const MuCommonWvw* c = dynamic_cast<const MuCommonWvw*>(element->common());
  PLAT_ASSERT(!assertCommon || c);
  return c ? c->widget_ : nullptr;
}

// --- Singleton --------------------------------------------------------------

MuiWvw::MuiWvw()
{
  static plat::SysColorsGeneric sysColors;
  static bool installed = false;
  if (!installed) {
    plat::setSysColors(&sysColors);
    installed = true;
  }
  style_ = wvw::WStyle::getDefault();
  wvw::WCheckBox box("WCheck_check", wvw::WCheckBox::kOff);
  const int w = box.preferredSize().x;
  const int ppmm = plat::ppmm.getValue();
  MetricTable table;
  std::copy(kDefaultMetrics, kDefaultMetrics + kMetricCount, table);
  table[kMetricCount - 1] = ppmm ? (uint32_t)((w * 8 + ppmm / 2) / ppmm + 8) : 8;
  setMetrics(table);
}

MuiWvw::~MuiWvw() = default;

MuiWvw& MuiWvw::instance()
{
  MuiWvw* mui = dynamic_cast<MuiWvw*>(&Mui::instance());
  PLAT_ASSERT_TEXT(mui, "MuiWvw");
  return *mui;
}

wvw::WStyle MuiWvw::getStyle() const
{
  if (!debugLayout)
    return style_;
  wvw::WStyle s = style_;
  s.bg = plat::Colour{rand() & 255, rand() & 255, rand() & 255};
  return s;
}

// --- Factories --------------------------------------------------------------

namespace {

template <class Made, class Kind, class... Args> void bindFactory(std::unique_ptr<Kind> (*&factory)(Args...))
{
  factory = [](Args... args) -> std::unique_ptr<Kind> { return std::make_unique<Made>(args...); };
}

} // namespace

void MuiWvw::bindFactories()
{
  bindFactory<MuButtonWvw>(muButtonFactory);
  bindFactory<MuCheckWvw>(muCheckFactory);
  bindFactory<MuChoiceWvw>(muChoiceFactory);
  bindFactory<MuEditWvw>(muEditFactory);
  bindFactory<MuFrameWvw>(muFrameFactory);
  bindFactory<MuImageWvw>(muImageFactory);
  bindFactory<MuLayoutWvw>(muLayoutFactory);
  bindFactory<MuLineWvw>(muLineFactory);
  bindFactory<MuListWvw>(muListFactory);
  bindFactory<MuPagerWvw>(muPagerFactory);
  bindFactory<MuScrollWvw>(muScrollFactory);
  bindFactory<MuSliderWvw>(muSliderFactory);
  bindFactory<MuSplitterWvw>(muSplitterFactory);
  bindFactory<MuStaticWvw>(muStaticFactory);
  bindFactory<MuSuperboxTx>(muSuperboxFactory);
  bindFactory<MuDialogTx>(muDialogFactory);
  bindFactory<MuAutoHiderTx>(muAutoHiderFactory);
  bindFactory<MuPopupMenuTx>(muPopupMenuFactory);
  bindFactory<MuTextWvw>(muTextFactory);
  bindFactory<muimisc::ProgressBarWvw>(muimisc::progressBarFactory);
}

} // namespace mui
