#include "mui/Mui.h"

#include <algorithm>

#include "plat/Configuration.h"

namespace mui {

namespace {

Mui* theInstance = nullptr;
int nextDialogId = 0;
Mui::MetricTable baseMetrics = {};
int scaledMetrics[Mui::kMetricCount] = {};

} // namespace

const Mui::MetricTable Mui::kDefaultMetrics = {16, 8, 16, 16, 48, 136, 32, 40};

Mui::Mui()
{
  setMetrics(kDefaultMetrics);
}

Mui::~Mui() = default;

void Mui::setInstance(Mui* mui)
{
  PLAT_ASSERT_TEXT(mui, "mui_");
  theInstance = mui;
}

Mui& Mui::instance()
{
  PLAT_ASSERT_TEXT(theInstance, "mui");
  return *theInstance;
}

bool Mui::hasInstance()
{
  return theInstance != nullptr;
}

int Mui::scale(int units)
{
  const int64_t scaled = (int64_t)units * plat::ppmm.getValue();
  return (int)(scaled >= 0 ? (scaled + 4) / 8 : -((-scaled + 4) / 8));
}

void Mui::setMetrics(const MetricTable& base)
{
  for (int i = 0; i < kMetricCount; i++) {
    baseMetrics[i] = base[i];
    scaledMetrics[i] = scale((int)base[i]);
  }
}

uint32_t Mui::baseMetric(Metric m)
{
  return baseMetrics[m];
}

int Mui::metric(Metric m)
{
  return scaledMetrics[m];
}

void Mui::registerDialog(MuDialog* dialog, bool add)
{
  if (add) {
    dialogs_[nextDialogId++] = dialog;
  } else {
    auto i = std::find_if(dialogs_.begin(), dialogs_.end(), [dialog](const auto& e) { return e.second == dialog; });
    if (i != dialogs_.end())
      dialogs_.erase(i);
  }
  for (MuObserver* observer : globalObservers_)
    dialog->addObserver(observer, add);
}

void Mui::addGlobalObserver(MuObserver* observer, bool add)
{
  for (const auto& [id, dialog] : dialogs_)
    dialog->addObserver(observer, add);
  if (add)
    globalObservers_.push_back(observer);
  else
    globalObservers_.erase(std::remove(globalObservers_.begin(), globalObservers_.end(), observer),
                           globalObservers_.end());
}

MuDialog* Mui::findDialog(int id) const
{
  auto i = dialogs_.find(id);
  return i == dialogs_.end() ? nullptr : i->second;
}

MuAutoHiderFactory muAutoHiderFactory = nullptr;
MuButtonFactory muButtonFactory = nullptr;
MuCheckFactory muCheckFactory = nullptr;
MuChoiceFactory muChoiceFactory = nullptr;
MuDialogFactory muDialogFactory = nullptr;
MuEditFactory muEditFactory = nullptr;
MuFrameFactory muFrameFactory = nullptr;
MuImageFactory muImageFactory = nullptr;
MuLayoutFactory muLayoutFactory = nullptr;
MuLineFactory muLineFactory = nullptr;
MuListFactory muListFactory = nullptr;
MuPagerFactory muPagerFactory = nullptr;
MuPopupMenuFactory muPopupMenuFactory = nullptr;
MuScrollFactory muScrollFactory = nullptr;
MuSliderFactory muSliderFactory = nullptr;
MuSplitterFactory muSplitterFactory = nullptr;
MuStaticFactory muStaticFactory = nullptr;
MuSuperboxFactory muSuperboxFactory = nullptr;
MuTextFactory muTextFactory = nullptr;

} // namespace mui
