#include "tlOrbSetup/SignInPage.h"

#include <string.h>

#include <algorithm>

#include "hosted/VendorConfig.h"
#include "http/HttpUtil.h"
#include "loc/Localize.h"
#include "mui/MuAnimation.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "os/desktop.h"
#include "plat/ConfigParameter.h"
#include "plat/Log.h"
#include "tlOrbSetup/PkgOrb.h"
#include "tlOrbSetup/SessionDir.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("SigningInPage");

plat::IntParameter signInTimeoutSecs("_SignInTimeoutSecs", "", 600, plat::ParamLevel::kAdvanced,
                                     nullptr, 0, 2147483647);

const int kBold = plat::Markup::Style::kBold;

} // namespace

// --- Rules --------------------------------------------------------------------

const plat::String& signingInState()
{
  static plat::String state;
  if (state.isNull())
    state = randomToken(true);
  return state;
}

plat::String signInAddress(bool signUp)
{
  plat::String base =
      plat::format("%s%s", hosted::portalUri.getValue(),
                   signUp ? "/auth/sign_up/software_trial" : "/auth/download_first");
  http::QueryBuilder query(base.str());
  query.add("state", signingInState().str());
  query.add("version", "8");
  return plat::String(query.get());
}

int signInTimeoutMs(int secs)
{
  return secs < 2147484 ? std::max(secs, 0) * 1000 : 2147483647;
}

io::UriParams checkCallbackUri(const char* uri, const char* state)
{
  io::EndpointUri parts(uri);
  if (!parts.hostPort.get() || strcmp(parts.hostPort.str(), "install") != 0)
    throw plat::Exception("Bad URI endpoint");
  io::UriParams params = io::parseUriQuery(parts.query.get(), false);
  auto given = params.find(plat::String("state"));
  if (given == params.end() || !given->second.get() || !state ||
      strcmp(given->second.str(), state) != 0)
    throw plat::Exception("Bad signingInState");
  for (const char* name : {"server", "viewer"}) {
    auto it = params.find(plat::String(name));
    if (it == params.end() || !it->second.get() || !*it->second.str())
      throw plat::Exception("Missing param");
  }
  return params;
}

// --- Sign-in choice page -----------------------------------------------------------

void SignInChoosePage::SignInOption::setup(mui::MuLayout* parent, const char* name,
                                           PageButton::Kind kind)
{
  row = mui::MuLayout::create(parent, name, mui::MuLayout::kHorizontal);
  tag = mui::MuText::create(row, "tag", "", nullptr, 0);
  centred(row, tag);
  mui::MuSpacer* gap = mui::MuSpacer::create(row, units(10), 0);
  row->setChildLayout(gap, mui::MuLayout::kStretch, 1);
  btn.setup(row, "btn", kind);
}

SignInChoosePage::SignInChoosePage(PageHost* dlg, bool timedOut)
    : Page(dlg, "signInChoose"), timedOut_(timedOut)
{
  spacer(root_, 80);
  text_ = mui::MuText::create(root_, "text", "", nullptr, 0);
  spacer(root_, 50);
  mui::MuLayout* rows = mui::MuLayout::create(root_, nullptr, mui::MuLayout::kVertical);
  centred(root_, rows);
  trial_.setup(rows, "trial", PageButton::kBlue);
  signIn_.setup(rows, "signIn", PageButton::kWhite);
}

void SignInChoosePage::fillTexts()
{
  text_->setMarkup(centredText(timedOut_ ? LOC_TR("tlOrbSetup_signinchoose_timeout")
                                         : LOC_TR("tlOrbSetup_install_success"),
                               timedOut_ ? 130 : 160, kBold)
                       .get());
  signIn_.btn.label(LOC_TR("tlOrbSetup_signinchoose_signin_btn"));
  signIn_.tag->setMarkup(
      centredText(LOC_TR("tlOrbSetup_signinchoose_signin_tag"), 140, kBold).get());
  trial_.btn.label(LOC_TR("tlOrbSetup_signinchoose_trial_btn"));
  trial_.tag->setMarkup(centredText(LOC_TR("tlOrbSetup_signinchoose_trial_tag"), 140, kBold).get());
  const int width =
      std::max(trial_.btn.button->preferredWidth(1), signIn_.btn.button->preferredWidth(1));
  for (SignInOption* o : {&trial_, &signIn_})
    o->row->setChildLayout(o->btn.button, mui::MuLayout::kFixed, width);
  root_->relayout();
}

void SignInChoosePage::activated(mui::MuElement* source, uint32_t)
{
  if (retired())
    return;
  if (source == trial_.btn.button)
    dlg_->signInChosen(true);
  else if (source == signIn_.btn.button)
    dlg_->signInChosen(false);
}

// --- Signing-in page ---------------------------------------------------------------

SigningInPage::SigningInPage(PageHost* dlg, bool signUp) : Page(dlg, "signingIn"), timer_(this)
{
  spacer(root_, 80);
  text1_ = mui::MuText::create(root_, "text1", "", nullptr, 0);
  spacer(root_, 50);
  text2_ = mui::MuText::create(root_, "text2", "", nullptr, 0);
  goBack_ = mui::MuButton::create(root_, "goback", "", mui::MuButton::kHyperlink, 0,
                                  mui::MuButton::kCentre);
  centred(root_, goBack_);

  plat::String address = signInAddress(signUp);
  vlog.log(100, "Opening URL %s", address.str());
  if (!os::openUrl(address.str()))
    vlog.error("Could not open %s", address.str());
  timer_.start(signInTimeoutMs(signInTimeoutSecs.getValue()));
}

SigningInPage::~SigningInPage()
{
  timer_.stop();
}

void SigningInPage::fillTexts()
{
  goBack_->setLabel(LOC_TR("tlOrbSetup_signingin_go_back"));
  text1_->setMarkup(centredText(LOC_TR("tlOrbSetup_signingin_goto_browser"), 130, kBold).get());
  text2_->setMarkup(centredText(LOC_TR("tlOrbSetup_signingin_browser_trouble"), 120,
                                plat::Markup::Style::kNormalWeight)
                        .get());
  root_->relayout();
}

void SigningInPage::activated(mui::MuElement* source, uint32_t)
{
  if (source != goBack_ || retired())
    return;
  timer_.stop();
  dlg_->signInEnded(false);
}

bool SigningInPage::timerExpired(plat::Timer*)
{
  if (!retired())
    dlg_->signInEnded(true);
  return false;
}

// --- Apply-token page --------------------------------------------------------------

ApplyTokenPage::ApplyTokenPage(PageHost* dlg, const char* uri)
    : Page(dlg, "applyToken"), reportLater_([this] { report(); })
{
  spacer(root_, 80);
  text_ = mui::MuText::create(root_, "text", "", nullptr, 0);
  spacer(root_, 30);
  spinner_.reset(new mui::MuSpinner(root_, 1, mui::Size(units(40), units(40))));
  spinner_->setSpinning(true);
  dlg->raiseAndActivate();
  params_ = checkCallbackUri(uri, signingInState().str());
}

ApplyTokenPage::~ApplyTokenPage()
{
  spinner_.reset();
}

void ApplyTokenPage::start()
{
  try {
    if (!dlg_->pkg())
      throw plat::Exception("No package");
    Pkg::TicketMap tickets;
    for (const char* app : {"server", "viewer"})
      tickets[plat::String(app)] =
          plat::SecureString(params_.find(plat::String(app))->second.str());
    dlg_->pkg()->applyTokens(this, dlg_->getCapsClient(), tickets);
  } catch (plat::Exception& e) {
    // Reported as the package reports its own failures: on the next pass.
    result_ = e;
    reportLater_.post();
  }
}

void ApplyTokenPage::fillTexts()
{
  text_->setMarkup(centredText(LOC_TR("tlOrbSetup_applytoken_wait"), 140, kBold).get());
  root_->relayout();
}

void ApplyTokenPage::done(Pkg*, const plat::Exception& result)
{
  result_ = result;
  report();
}

void ApplyTokenPage::report()
{
  if (retired())
    return;
  spinner_->setSpinning(false);
  dlg_->tokensApplied(result_);
}

} // namespace tlOrbSetup
