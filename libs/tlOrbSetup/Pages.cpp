#include "tlOrbSetup/Pages.h"

#include <stdint.h>

#include "http/HttpUtil.h"
#include "loc/Localize.h"
#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/MuMessageBox.h"
#include "mui/Mui.h"
#include "muimisc/ProgressBar.h"
#include "plat/DString.h"
#include "plat/Log.h"
#include "tlOrbSetup/PkgOrb.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("SetupPages");

const uint16_t kInstallStart = 6553; // a tenth of the bar

// The framed column of the download and install pages, 100 units in from
// both sides and 60 below the top, with the text over the bar.
mui::MuLayout* framedColumn(mui::MuLayout* root, mui::MuText*& text, muimisc::ProgressBar*& bar)
{
  spacer(root, 60);
  mui::MuFrame* frame = mui::MuFrame::create(root, nullptr, nullptr, mui::MuFrame::kPlain);
  frame->setMargin(mui::Size(units(100), 0));
  mui::MuLayout* column = mui::MuLayout::create(frame, nullptr, mui::MuLayout::kVertical);
  text = mui::MuText::create(column, "text", "", nullptr, 0);
  bar = muimisc::ProgressBar::create(column, "progress");
  return column;
}

// Their cancel button, centred 30 units below what parent holds.
void cancelButton(mui::MuLayout* parent, PageButton& cancel)
{
  spacer(parent, 30);
  cancel.setup(parent, "cancel", PageButton::kWhite);
  centred(parent, cancel.button);
}

plat::String progressText(const char* key, Pkg* pkg)
{
  plat::String formatted = loc::formatArgs(loc::translate(key, __FILE__, __LINE__, true), pkg ? pkg->name() : "");
  return plat::String(escaped(formatted.str()).get());
}

} // namespace

// --- Rules --------------------------------------------------------------------

uint16_t downloadBarValue(int64_t done, int64_t total)
{
  if (total <= 0)
    return 0;
  const __int128 n = (__int128)done * 65535;
  const __int128 half = total / 2;
  const __int128 v = (n >= 0 ? n + half : n - half) / total;
  return v < 0 ? 0 : v > 65535 ? 65535 : (uint16_t)v;
}

uint16_t installBarValue(int32_t n)
{
  if (n <= 0)
    return kInstallStart;
  if (n <= 199)
    return (uint16_t)(kInstallStart + (uint32_t)n * 58981u / 400u);
  // The step left to the end never reaches 0.
  uint32_t left = 5898000u / (uint32_t)n;
  return (uint16_t)(65534u - (left > 0 ? left : 1));
}

int32_t addSaturating(int32_t n, int length)
{
  if (length <= 0)
    return n;
  return length > INT32_MAX - n ? INT32_MAX : n + length;
}

void OutputTail::append(const char* bytes, size_t length)
{
  kept_.append(bytes, length);
  // Trimmed in large steps, so appending stays linear.
  if (kept_.size() > 2 * kMaxKept) {
    size_t cut = kept_.size() - kMaxKept;
    kept_.erase(0, cut);
    dropped_ += cut;
  }
}

std::string OutputTail::text() const
{
  size_t cut = kept_.size() > kMaxKept ? kept_.size() - kMaxKept : 0;
  if (dropped_ + cut == 0)
    return kept_;
  return std::string(plat::format("[%llu bytes of earlier output left out]\n",
                                  (unsigned long long)(dropped_ + cut)).str()) +
         kept_.substr(cut);
}

// --- Initial page ----------------------------------------------------------------

InitialPage::InitialPage(PageHost* dlg) : Page(dlg, "initial")
{
  mui::MuImage::create(root_, nullptr, "files", mui::Size());
  spacer(root_, 4);
  eula_ = mui::MuText::create(root_, "eula", "", &openUrl_, 0);
  spacer(root_, 14);
  install_.setup(root_, "install", PageButton::kBlue);
  centred(root_, install_.button);
  spacer(root_, 6);
}

void InitialPage::fillTexts()
{
  plat::DString eulas = escaped(http::makeProductUrl("/legal/#eulas").get());
  plat::DString privacy = escaped(http::makeProductUrl("/legal/#privacy").get());
  plat::String notice =
      loc::formatArgs(LOC_TR_RAW("tlOrbSetup_initial_eula_pp_html_fmt"), eulas.get(), privacy.get());
  plat::DString span;
  plat::Markup::appendSpan(span, notice.str(), nullptr, 120);
  eula_->setMarkup(centredMarkup(span.get()).get());
  install_.label(LOC_TR("tlOrbSetup_initial_accept_and_install"));
  root_->relayout();
}

void InitialPage::activated(mui::MuElement* source, uint32_t)
{
  if (source == install_.button)
    dlg_->startDownload(false);
}

// --- Download page -------------------------------------------------------------

DownloadPage::DownloadPage(PageHost* dlg) : Page(dlg, "download")
{
  framedColumn(root_, text_, bar_);
  cancelButton(root_, cancel_);
  text_->setMarkup(progressText("tlOrbSetup_download_downloading_fmt", dlg->pkg()).get());
}

void DownloadPage::start()
{
  dlg_->pkg()->startDownload(this);
}

void DownloadPage::fillTexts()
{
  cancel_.label(LOC_TR("tlOrbSetup_cancel"));
  root_->relayout();
}

void DownloadPage::activated(mui::MuElement* source, uint32_t)
{
  if (source == cancel_.button && !retired())
    dlg_->showError(LOC_TR("tlOrbSetup_download_cancelled"), nullptr);
}

void DownloadPage::progress(Pkg*, int64_t done, int64_t total)
{
  bar_->setValue(downloadBarValue(done, total));
}

void DownloadPage::done(Pkg*, const plat::Exception& result)
{
  if (retired())
    return;
  result_ = result;
  dlg_->downloadDone(result_);
}

// --- Install page ----------------------------------------------------------------

InstallPage::InstallPage(PageHost* dlg) : Page(dlg, "install")
{
  cancelButton(framedColumn(root_, text_, bar_), cancel_);
}

void InstallPage::fillTexts()
{
  cancel_.label(LOC_TR("tlOrbSetup_cancel"));
  root_->relayout();
}

void InstallPage::showElevating()
{
  text_->setMarkup(escaped(LOC_TR("tlOrbSetup_install_elevating")).get());
  root_->relayout();
}

void InstallPage::startInstall()
{
  busy_ = true;
  bytes_ = 0;
  bar_->setValue(kInstallStart);
  text_->setMarkup(progressText("tlOrbSetup_install_installing_fmt", dlg_->pkg()).get());
  root_->relayout();
  dlg_->pkg()->install(this, dlg_->installFlag());
}

void InstallPage::output(Pkg*, int length, const char* bytes)
{
  if (retired() || length <= 0)
    return;
  bytes_ = addSaturating(bytes_, length);
  bar_->setValue(installBarValue(bytes_));
  output_.append(bytes, (size_t)length);
}

void InstallPage::done(Pkg*, const char* error)
{
  finish(error);
}

void InstallPage::activated(mui::MuElement* source, uint32_t)
{
  if (source == cancel_.button)
    finish(LOC_TR("tlOrbSetup_install_cancelled"));
}

void InstallPage::finish(const char* error)
{
  if (retired())
    return;
  error_ = error ? plat::String(error) : plat::String();
  bar_->setShown(false);
  root_->relayout();
  busy_ = false;
  std::string out = output_.text();
  dlg_->installDone(error_.get(), out.c_str());
}

// --- Simple launch page ---------------------------------------------------------

SimpleLaunchPage::SimpleLaunchPage(PageHost* dlg) : Page(dlg, "simpleLaunch")
{
  spacer(root_, 80);
  text_ = mui::MuText::create(root_, "text", "", nullptr, 0);
  spacer(root_, 30);
  launch_.setup(root_, "launch", PageButton::kBlue);
  centred(root_, launch_.button);
}

void SimpleLaunchPage::fillTexts()
{
  launch_.label(LOC_TR("tlOrbSetup_launch"));
  text_->setMarkup(centredText(LOC_TR("tlOrbSetup_install_success"), 140, plat::Markup::Style::kBold).get());
  root_->relayout();
}

void SimpleLaunchPage::activated(mui::MuElement* source, uint32_t)
{
  if (source != launch_.button || retired() || launched_)
    return;
  launched_ = true;
  dlg_->launch();
}

// --- Error page -----------------------------------------------------------------

ErrorPage::ErrorPage(PageHost* dlg) : Page(dlg, "error")
{
  spacer(root_, 60);
  text1_ = mui::MuText::create(root_, "text1", "", nullptr, 0);
  spacer(root_, 20);
  text2_ = mui::MuText::create(root_, "text2", "", nullptr, 0);
  spacer(root_, 10);
  detailText_ = mui::MuText::create(root_, "detail", "", nullptr, 0);
  spacer(root_, 10);
  cmdOut_ = mui::MuButton::create(root_, "cmdOutBtn", "", mui::MuButton::kNormal, 0, mui::MuButton::kCentre);
  cmdOut_->setShown(false);
  centred(root_, cmdOut_);
  spacer(root_, 20);
  support_ = mui::MuText::create(root_, "support", "", &openUrl_, 0);
  spacer(root_, 40);
  retry_.setup(root_, "retry", PageButton::kBlue);
  centred(root_, retry_.button);
}

ErrorPage::~ErrorPage() = default;

void ErrorPage::fillTexts()
{
  cmdOut_->setLabel(LOC_TR("tlOrbSetup_error_cmdoutbtn"));
  retry_.label(LOC_TR("tlOrbSetup_error_retrybtn"));
  text1_->setMarkup(
      centredText(LOC_TR("tlOrbSetup_error_install_failed"), 140, plat::Markup::Style::kBold).get());
  text2_->setMarkup(centredMarkup(escaped(LOC_TR("tlOrbSetup_error_install_failed_more")).get()).get());
  plat::DString help = escaped(http::makeProductUrl("/help/linux-install/").get());
  plat::String support = loc::formatArgs(LOC_TR_RAW("tlOrbSetup_error_support_html_fmt"), help.get());
  plat::DString span;
  plat::Markup::appendSpan(span, support.str(), nullptr, 120);
  support_->setMarkup(centredMarkup(span.get()).get());
  root_->relayout();
}

void ErrorPage::setError(const char* text, const char* detail)
{
  detail_ = detail ? plat::String(detail) : plat::String();
  detailText_->setMarkup(centredMarkup(escaped(text).get()).get());
  cmdOut_->setShown(detail && *detail);
  root_->relayout();
}

void ErrorPage::activated(mui::MuElement* source, uint32_t)
{
  if (retired())
    return;
  if (source == retry_.button) {
    dlg_->retry();
  } else if (source == cmdOut_) {
    box_.reset();
    box_.reset(new mui::MuMessageBox(dlg_->dialog(), detail_.get() ? detail_.get() : "",
                                     mui::MuMessageBox::kOk | mui::MuMessageBox::kScrollText,
                                     LOC_TR("tlOrbSetup_error_cmdout"), nullptr, true, nullptr));
    box_->setFixedSize(mui::Size(units(1200), units(800)));
    box_->run();
  }
}

} // namespace tlOrbSetup
