#include "tlOrbSetup/SettingsPage.h"

#include <string.h>

#include "http/HttpUtil.h"
#include "loc/Localize.h"
#include "mui/MuContainerKinds.h"
#include "mui/MuInfoFrame.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/MuMessageBox.h"
#include "muimisc/ClearTextPassword.h"
#include "plat/Log.h"
#include "svr/AuthSchemes.h"
#include "svr/Encryption.h"
#include "tlutil/ConfigFile.h"
#include "tlutil/ConfigStore.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("SettingsPage");

const char kSystemAuthHelp[] = "/help/system-authentication/";

const char* flag(bool on)
{
  return on ? "1" : "0";
}

} // namespace

// --- Rules --------------------------------------------------------------------

PasswordCheck checkPasswords(const char* first, const char* second)
{
  if (!first || strlen(first) <= 5)
    return PasswordCheck::kTooShort;
  if (!second || strcmp(first, second) != 0)
    return PasswordCheck::kMismatch;
  return PasswordCheck::kOk;
}

ServerSettings serverSettings(bool deviceAuth, const char* password, bool analytics, bool updates)
{
  ServerSettings settings;
  if (deviceAuth)
    settings.password = svr::encodePassword(password, false);
  plat::CaseInsensitiveStringMap& values = settings.values;
  values[plat::String("Authentication")] =
      svr::authSchemeName(deviceAuth ? svr::kAuthZarn : svr::kAuthSystem, "");
  values[plat::String("EnableAnalytics")] = plat::String(flag(analytics));
  values[plat::String("EnableAutoUpdateChecks")] = plat::String(flag(updates));
  return settings;
}

// --- Page ------------------------------------------------------------------------

SettingsPage::SettingsPage(PageHost* dlg) : Page(dlg, "settings")
{
  frame_ = mui::MuFrame::create(root_, nullptr, nullptr, mui::MuFrame::kPlain);
  frame_->setMargin(mui::Size(units(100), 0));
  root_->setChildLayout(frame_, mui::MuLayout::kStretch, 1);
  content_ = mui::MuLayout::create(frame_, nullptr, mui::MuLayout::kVertical);
  text1_ = mui::MuText::create(content_, "text1", "", nullptr, 0);
  spacer(content_, 5);
  text2_ = mui::MuText::create(content_, "text2", "", nullptr, 0);
  spacer(content_, 5);

  authRow_ = mui::MuLayout::create(content_, nullptr, mui::MuLayout::kHorizontal);
  zarnAuth_ = mui::MuCheck::create(authRow_, "zarnAuth", "", mui::MuCheck::kRadio, nullptr);
  mui::MuSpacer* gap = mui::MuSpacer::create(authRow_, units(20), 0);
  authRow_->setChildLayout(gap, mui::MuLayout::kStretch, 1);
  sysAuth_ = mui::MuCheck::create(authRow_, "sysAuth", "", mui::MuCheck::kRadio, zarnAuth_);

  spacer(content_, 10);
  info_.reset(new mui::MuInfoFrame(content_, "info", &openUrl_, mui::MuFrame::kPlain));
  info_->frame()->setMargin(mui::Size(units(25), units(25)));
  spacer(content_, 10);

  block_ = mui::MuLayout::create(content_, nullptr, mui::MuLayout::kVertical);
  blockText_ = mui::MuText::create(block_, "zarnAuth", "", nullptr, 0);
  row1_ = mui::MuLayout::create(block_, nullptr, mui::MuLayout::kHorizontal);
  row1_->addIndent(true);
  pwd1_.reset(new muimisc::ClearTextPassword(row1_, "pwd1", "", true));
  row2_ = mui::MuLayout::create(block_, nullptr, mui::MuLayout::kHorizontal);
  row2_->addIndent(true);
  pwd2_.reset(new muimisc::ClearTextPassword(row2_, "pwd2", "", false));
  mui::MuSpacer* copyGap = mui::MuSpacer::create(row2_, units(46), 0);
  row2_->setChildLayout(copyGap, mui::MuLayout::kFixed, units(46));
  mui::MuFrame* aux1 = mui::MuFrame::create(block_, "aux1", nullptr, mui::MuFrame::kPlain);
  block_->setChildLayout(aux1, mui::MuLayout::kStretch, 1);
  error_.reset(new mui::MuInfoFrame(aux1, "error", nullptr, mui::MuFrame::kPlain));

  mui::MuFrame* aux2 = mui::MuFrame::create(content_, "aux2", nullptr, mui::MuFrame::kPlain);
  content_->setChildLayout(aux2, mui::MuLayout::kStretch, 1);
  analytics_ = mui::MuCheck::create(content_, "analytics", "", mui::MuCheck::kNormal, nullptr);
  updates_ = mui::MuCheck::create(content_, "updates", "", mui::MuCheck::kNormal, nullptr);
  spacer(content_, 20);

  launch_.setup(root_, "launch", PageButton::kBlue);
  centred(root_, launch_.button);
  spacer(root_, 20);

  zarnAuth_->setChecked(true);
  sysAuth_->setChecked(false);
  sysAuth_->setEnabled(true);
  analytics_->setChecked(true);
  updates_->setChecked(true);
  pwd1_->hiddenEdit()->setFocus();
}

SettingsPage::~SettingsPage()
{
  box_.reset();
  pwd1_.reset();
  pwd2_.reset();
  error_.reset();
  info_.reset();
}

void SettingsPage::fillTexts()
{
  launch_.label(LOC_TR("tlOrbSetup_launch"));
  text1_->setMarkup(
      centredText(LOC_TR("tlOrbSetup_settings_text1"), 140, plat::Markup::Style::kBold).get());
  text2_->setMarkup(escaped(LOC_TR("tlOrbSetup_settings_text2")).get());
  analytics_->setLabel(LOC_TR("tlOrbSetup_settings_analytics"));
  updates_->setLabel(LOC_TR("tlOrbSetup_settings_updates"));
  zarnAuth_->setLabel(LOC_TR("tlOrbSetup_zarn_auth"));
  sysAuth_->setLabel(
      loc::formatArgs(LOC_TR_RAW("tlOrbSetup_system_auth_fmt"), svr::systemAuthPlatformName())
          .str());
  blockText_->setMarkup(escaped(LOC_TR("tlOrbSetup_zarn_auth_passwd")).get());
  pwd1_->setHint(LOC_TR("tlOrbSetup_password"));
  pwd2_->setHint(LOC_TR("tlOrbSetup_confirm_password"));
  updateAuthInfo();
  validatePassword();
  // From the inside out.
  mui::MuContainer* const order[] = {row1_, row2_, block_, content_, frame_, root_};
  for (mui::MuContainer* c : order)
    c->relayout();
}

void SettingsPage::updateAuthInfo()
{
  plat::String text;
  if (zarnAuth_->isChecked()) {
    text = plat::String(LOC_TR("tlOrbSetup_zarn_auth_help_html"));
  } else {
    plat::DString help = escaped(http::makeProductUrl(kSystemAuthHelp).get());
    text = loc::formatArgs(LOC_TR_RAW("tlOrbSetup_system_auth_help_html_fmt"), help.get());
  }
  plat::DString span;
  plat::Markup::appendSpan(span, text.str(), nullptr, 120);
  info_->setInfo(0, centredMarkup(span.get()).get(), nullptr);
}

bool SettingsPage::validatePassword()
{
  if (!checking_)
    return false;
  const plat::SecureString first = pwd1_->getText(), second = pwd2_->getText();
  PasswordCheck check = checkPasswords(first.get(), second.get());
  if (check == PasswordCheck::kTooShort)
    error_->setInfo(mui::MuInfoFrame::kError,
                    escaped(LOC_TR("smisc_zarnauthuserdlg_info_too_short")).get(), nullptr);
  else if (check == PasswordCheck::kMismatch)
    error_->setInfo(mui::MuInfoFrame::kError,
                    escaped(LOC_TR("tlOrbSetup_passwords_do_not_match")).get(), nullptr);
  else
    error_->setShown(false);
  root_->relayout();
  return check == PasswordCheck::kOk;
}

bool SettingsPage::isPasswordPart(mui::MuElement* source) const
{
  for (mui::MuElement* e = source; e; e = e->getParent())
    if (e == pwd1_->layout() || e == pwd2_->layout())
      return true;
  return false;
}

void SettingsPage::changed(mui::MuElement* source, uint32_t)
{
  checking_ = true;
  if (retired())
    return;
  if (isPasswordPart(source)) {
    validatePassword();
  } else if (source == zarnAuth_ || source == sysAuth_) {
    updateAuthInfo();
    block_->setShown(zarnAuth_->isChecked());
    root_->relayout();
  }
}

void SettingsPage::activated(mui::MuElement* source, uint32_t)
{
  checking_ = true;
  if (retired())
    return;
  if (isPasswordPart(source))
    validatePassword();
  else if (source == launch_.button)
    launch();
}

void SettingsPage::launch()
{
  if (pending_)
    return;
  const bool device = zarnAuth_->isChecked();
  // The system's login credentials need no device password.
  if (device && !validatePassword())
    return;
  const char* analytics = flag(analytics_->isChecked());
  pending_ = true;
  try {
    sendSettings(device);
  } catch (plat::Exception& e) {
    pending_ = false;
    vlog.error("Sending the settings: %s", e.str());
    result(e);
    return;
  }
  try {
    tlutil::writeConfigValue(tlutil::getConfigFilePath("zarnviewer").str(), "EnableAnalytics",
                             analytics);
  } catch (plat::Exception& e) {
    vlog.error("Recording the analytics choice: %s", e.str());
  }
}

void SettingsPage::sendSettings(bool device)
{
  const ServerSettings settings =
      serverSettings(device, device ? pwd1_->getText().str() : "", analytics_->isChecked(), updates_->isChecked());
  pwd1_->setText("");
  pwd2_->setText("");
  dlg_->helper().svrSettings(settings.values, this, device ? &settings.password : nullptr);
}

void SettingsPage::result(const plat::Exception& error)
{
  pending_ = false;
  if (retired())
    return;
  if (*error.str() || *error.getType()) {
    char text[plat::Exception::kMessageSize];
    vlog.error("Storing the settings failed: %s", error.formatDisplay(text));
    box_.reset();
    box_.reset(new mui::MuMessageBox(dlg_->dialog(), error.str(),
                                     mui::MuMessageBox::kOk | mui::MuMessageBox::kError, nullptr,
                                     nullptr, true, nullptr));
    box_->run();
  }
  dlg_->launch();
}

} // namespace tlOrbSetup
