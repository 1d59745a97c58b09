#include "tlOrbSetup/SetupDlg.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "hosted/HostedRequest.h"
#include "hostedremoteaccess/CapsClient.h"
#include "http/native/NativeHttpClient.h"
#include "loc/Localize.h"
#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/Mui.h"
#include "os/AppLoop.h"
#include "os/desktop.h"
#include "os/dirs.h"
#include "plat/Configuration.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/Resource.h"
#include "plat/TestFeatures.h"
#include "product/addresses.h"
#include "ssl/HttpsClient.h"
#include "ssl/SslCertLookup.h"
#include "tlOrbSetup/CloudCredentials.h"
#include "tlOrbSetup/Pages.h"
#include "tlOrbSetup/PkgOrb.h"
#include "tlOrbSetup/SessionDir.h"
#include "tlOrbSetup/SettingsPage.h"
#include "tlOrbSetup/SignInPage.h"
#include "tx/TXWindow.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("SetupDlg");

plat::StringParameter certsPem("_CertsPem", "", "", plat::ParamLevel::kAdvanced);
plat::BoolParameter forceSignInAvailable("_ForceSignInAvailable", "", false,
                                         plat::ParamLevel::kAdvanced);
plat::BoolParameter forceSettingsPage("_ForceSettingsPage", "", false, plat::ParamLevel::kAdvanced);

const int64_t kMaxCertsFile = 16 * 1024 * 1024;

const char* const kAfterInstallNames[] = {"signInChoose", "settings", "simpleLaunch"};

std::string readCertsFile(const char* path)
{
  FILE* f = fopen(path, "rbe");
  if (!f)
    throw plat::SystemExceptionFmt(errno, "open(%s)", path);
  std::unique_ptr<FILE, int (*)(FILE*)> closer(f, fclose);
  struct stat st;
  if (fstat(fileno(f), &st) != 0)
    throw plat::SystemExceptionFmt(errno, "fstat(%s)", path);
  if (st.st_size > kMaxCertsFile)
    throw plat::Exception(0, "%s is larger than %lld bytes", path, (long long)kMaxCertsFile);
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    text.append(buf, n);
    if ((int64_t)text.size() > kMaxCertsFile)
      throw plat::Exception(0, "%s is larger than %lld bytes", path, (long long)kMaxCertsFile);
  }
  if (ferror(f))
    throw plat::SystemExceptionFmt(errno, "read(%s)", path);
  return text;
}

// The download's trusted certificates, parsed when a connection first asks
// for an issuer instead of on the way to the first paint. The text is the
// built-in resource's, or an owned copy of a file's.
class CertsOnFirstUse : public ssl::SslCertLookupCustom {
public:
  explicit CertsOnFirstUse(std::string text) : owned_(std::move(text))
  {
    pem_ = owned_.data();
    length_ = owned_.size();
  }
  CertsOnFirstUse(const char* pem, size_t length) : pem_(pem), length_(length) {}

  ssl::SslCertificatePtr find(int length, const unsigned char* subjectDer) override
  {
    if (pem_) {
      const char* pem = pem_;
      pem_ = nullptr;
      addCertsFromPem((int)length_, pem);
      std::string().swap(owned_);
    }
    return SslCertLookupCustom::find(length, subjectDer);
  }

private:
  std::string owned_;
  const char* pem_ = nullptr;
  size_t length_ = 0;
};

std::vector<plat::String> resourceTokens(const char* name, const char* seps)
{
  plat::BuiltInResource r = plat::findBuiltInResource(name);
  if (!r.data)
    return {};
  return splitTokens(static_cast<const char*>(r.data), r.size, seps);
}

} // namespace

// --- Rules --------------------------------------------------------------------

std::vector<plat::String> splitTokens(const char* text, size_t length, const char* seps)
{
  std::vector<plat::String> out;
  size_t i = 0;
  while (i < length) {
    size_t start = i;
    while (i < length && text[i] && !strchr(seps, text[i]))
      i++;
    if (i > start)
      out.push_back(plat::String(text + start, (int)(i - start)));
    i++;
  }
  return out;
}

int languageIndex(const std::vector<plat::String>& locales, const std::vector<plat::String>& codes)
{
  std::vector<std::string> expanded;
  for (const plat::String& l : locales) {
    std::string s = l.str();
    expanded.push_back(s);
    size_t cut = s.find_first_of("_-");
    if (cut != std::string::npos)
      expanded.push_back(s.substr(0, cut));
  }
  for (const std::string& e : expanded)
    for (size_t i = 0; i < codes.size(); i++)
      if (e == codes[i].str())
        return (int)i;
  return 0;
}

AfterInstall afterInstall(bool signInAvailable, bool forceSettings)
{
  if (signInAvailable)
    return AfterInstall::kSignInChoice;
  return forceSettings ? AfterInstall::kSettings : AfterInstall::kSimpleLaunch;
}

// --- Construction -----------------------------------------------------------------

SetupDlg::SetupDlg(hosted::HostedClientContextPtr cloudConfig)
    : hostedContext_(std::move(cloudConfig)), helper_(this), exitTimer_(this),
      sweepLater_([this] { sweep(); })
{
  makeHttpsClient();
  const int factor = plat::TextSizeFactor.getValue();
  const mui::Size size(mui::Mui::scale(1120 * factor / 100), mui::Mui::scale(920 * factor / 100));
  dialog_ = mui::MuDialog::create("SetupDlg", LOC_TR("tlOrbSetup_setupdlg_title"), size,
                                  mui::MuDialog::kFixedSize | mui::MuDialog::kNoHide, nullptr, nullptr);
  loadLanguages();

  header_ = mui::MuFrame::create(dialog_.get(), nullptr, nullptr, mui::MuFrame::kPlain);
  headerLayout_ = mui::MuLayout::create(header_, nullptr, mui::MuLayout::kHorizontal);
  icon_ = mui::MuImage::create(headerLayout_, nullptr, "tlzarnconnectsetup", mui::Size());
  spacer_ = mui::MuSpacer::create(headerLayout_, mui::Mui::scale(100), 0);
  langs_ = mui::MuChoice::create(headerLayout_, "langs", nullptr);
  // Kind 0 would show tabs; the pages are switched by the flow alone.
  deck_ = mui::MuPager::create(dialog_.get(), nullptr, 1);

  dialog_->addObserver(this, true);

  for (size_t i = 0; i < langNames_.size(); i++)
    langs_->insertItem((int)i, langNames_[i].str());
  langs_->select(languageIndex(loc::Localize::instance()->getLocaleList(), langCodes_));
  if (langCodes_.empty())
    langs_->setShown(false);

  header_->setMargin(mui::Size(mui::Mui::scale(32), mui::Mui::scale(32)));
  headerLayout_->setChildLayout(spacer_, mui::MuLayout::kStretch, 1);

  dialog_->setCloseCallback(this);
  plat::Markup::Style& style = dialog_->ensureStyle();
  style.color = plat::String("contentText");
  style.background = plat::String("contentBg");
  style.size = plat::Markup::Style::kNormalSize;
  style.weight = plat::Markup::Style::kNormalWeight;
  dialog_->styleChanged();
  dialog_->setMargin(0);
  dialog_->setPanelKind(header_, mui::MuDialog::kTop);

  initial_.reset(new InitialPage(this));
  selectPage(initial_.get());
  retitle();
  dialog_->relayout();
}

void SetupDlg::makeHttpsClient()
{
  std::unique_ptr<ssl::SslCertLookupCustom> custom;
  const bool testFeatures = plat::isTestFeaturesEnabled();
  plat::String pem = certsPem.getValueStr();
  if (testFeatures && *pem.str()) {
    vlog.log(100, "Using trusted certs from %s", pem.str());
    custom = std::make_unique<CertsOnFirstUse>(readCertsFile(pem.str()));
  } else {
    vlog.log(100, "Using trusted certs from built-in resource");
    plat::BuiltInResource r = plat::findBuiltInResource("cacerts.pem");
    custom = std::make_unique<CertsOnFirstUse>(static_cast<const char*>(r.data), r.data ? r.size : 0);
  }
  https_ = ssl::createHttpsClient(std::move(custom));
  if (testFeatures)
    https_->allowPlainHttp();
}

void SetupDlg::loadLanguages()
{
  langCodes_ = resourceTokens("langs.txt", " \t\r\n");
  langNames_ = resourceTokens("langDescs.txt", "\r\n");
  if (langNames_.size() > langCodes_.size())
    langNames_.resize(langCodes_.size());
}

SetupDlg::~SetupDlg()
{
  exitTimer_.stop();
  sweepLater_.cancel();
  retiredPkgs_.clear();
  retiredPages_.clear();
  dialog_->addObserver(this, false);
  scheme_.reset();
  current_ = nullptr;
  download_.reset();
  install_.reset();
  signInChoose_.reset();
  signingIn_.reset();
  applyToken_.reset();
  settings_.reset();
  simpleLaunch_.reset();
  error_.reset();
  initial_.reset();
  pkg_.reset();
  caps_.reset();
  hostedSession_.reset();
  dialog_.reset();
}

// --- Window -----------------------------------------------------------------

void SetupDlg::show()
{
  removeInstallerDir();
  dialog_->setShown(true);
  header_->setFocus();
}

void SetupDlg::removeInstallerDir()
{
  plat::String dir = getInstallerDir();
  // What cannot go stays: the next download reports what it meets there.
  if (plat::isDir(dir.str()) && !plat::tryRmDir(dir.str(), true))
    vlog.error("Removing %s: %s", dir.str(), strerror(errno));
}

void SetupDlg::selectPage(Page* page)
{
  int index = 0;
  while (index < deck_->childCount() && deck_->getChild(index) != page->root())
    index++;
  deck_->setCurrent(index);
  current_ = page;
  page->fillTexts();
}

void SetupDlg::retitle()
{
  dialog_->setTitle(LOC_TR("tlOrbSetup_setupdlg_title"));
  if (current_)
    current_->fillTexts();
}

void SetupDlg::changed(mui::MuElement* source, uint32_t)
{
  if (source != langs_ || langCodes_.empty())
    return;
  int index = langs_->selectedIndex();
  int last = (int)langCodes_.size() - 1;
  index = index < 0 ? 0 : index > last ? last : index;
  plat::Configuration::global().set("Locale", langCodes_[index].str(), plat::kPriorityPolicy);
  retitle();
}

void SetupDlg::dialogClosed(mui::MuElement*)
{
  vlog.log(30, "Dialog closed");
  exitTimer_.start(100);
}

bool SetupDlg::mayClose(mui::MuDialog*)
{
  return !(install_ && install_->busy());
}

void SetupDlg::action(ui::Menu::Item*) {}

bool SetupDlg::timerExpired(plat::Timer*)
{
  os::AppLoop::exit(0);
  return false;
}

// --- Page flow ----------------------------------------------------------------

template <class T> void SetupDlg::retire(std::unique_ptr<T>& slot)
{
  if (!slot)
    return;
  if constexpr (std::is_base_of<Page, T>::value) {
    if (current_ == slot.get())
      current_ = nullptr;
    slot->retire();
    retiredPages_.push_back(std::move(slot));
  } else {
    retiredPkgs_.push_back(std::move(slot));
  }
  sweepLater_.post();
}

void SetupDlg::sweep()
{
  // The packages first: they call into their pages.
  retiredPkgs_.clear();
  retiredPages_.clear();
}

template <class P> P* SetupDlg::showPage(std::unique_ptr<P>& slot, std::unique_ptr<P> page)
{
  retire(slot);
  slot = std::move(page);
  selectPage(slot.get());
  return slot.get();
}

void SetupDlg::startDownload(bool installFlag)
{
  retire(pkg_);
  pkg_.reset(new PkgOrb(&helper_, https_.get()));
  installFlag_ = installFlag;
  DownloadPage* page = showPage(download_, std::make_unique<DownloadPage>(this));
  page->start();
}

void SetupDlg::downloadDone(const plat::Exception& result)
{
  if (*result.str() || *result.getType()) {
    showError(result.str(), nullptr);
    return;
  }
  InstallPage* page = showPage(install_, std::make_unique<InstallPage>(this));
  page->showElevating();
  helper_.launch();
}

void SetupDlg::helperLaunched()
{
  if (!install_ || !pkg_) {
    vlog.log(30, "Helper launched without an install page");
    return;
  }
  install_->startInstall();
}

void SetupDlg::helperLaunchFailed(const plat::Exception&)
{
  showError(LOC_TR("tlOrbSetup_install_elevation_failed"), nullptr);
}

void SetupDlg::installDone(const char* error, const char* output)
{
  if (error) {
    showError(error, output);
    return;
  }
  AfterInstall next = afterInstall(signInAvailable(), forceSettingsPage.getValue());
  vlog.log(30, "Installed, next page %s", kAfterInstallNames[(int)next]);
  if (next == AfterInstall::kSignInChoice)
    showPage(signInChoose_, std::make_unique<SignInChoosePage>(this, false));
  else if (next == AfterInstall::kSettings)
    showSettings();
  else
    showPage(simpleLaunch_, std::make_unique<SimpleLaunchPage>(this));
}

bool SetupDlg::signInAvailable() const
{
  if (forceSignInAvailable.getValue())
    return true;
  if (helper_.haveCloudCredsSvr())
    return false;
  return !hasCloudCredentials("tlzarnconnect", false);
}

void SetupDlg::launch()
{
  try {
    vlog.log(30, "Launching");
    if (!pkg_)
      throw plat::Exception("No package");
    pkg_->launch();
    dialog_->setShown(false);
    vlog.log(30, "Exiting");
    exitTimer_.start(500);
  } catch (plat::Exception& e) {
    if (*e.getType())
      vlog.log(0, "Error launching: [%s] %s", e.getType(), e.str());
    else
      vlog.log(0, "Error launching: %s", e.str());
    showError(e.str(), nullptr);
  }
}

void SetupDlg::retry()
{
  removeInstallerDir();
  selectPage(initial_.get());
}

void SetupDlg::showError(const char* text, const char* detail)
{
  // Copies: the texts may belong to a page retired below.
  plat::String t(text), d(detail);
  vlog.log(30, "Error page: %s", t.str());
  ErrorPage* page = showPage(error_, std::make_unique<ErrorPage>(this));
  if (t.get())
    page->setError(t.str(), d.get());
  retire(download_);
  retire(install_);
  retire(signInChoose_);
  retire(signingIn_);
  retire(applyToken_);
  retire(settings_);
  retire(pkg_);
  helper_.cancelRunCmd();
}

void SetupDlg::signInChosen(bool signUp)
{
  vlog.log(30, "Sign in chosen, trial %d", signUp ? 1 : 0);
  if (!scheme_) {
    try {
      scheme_.reset(new os::UrlSchemeRegistration(product::kUriScheme,
                                                  os::UrlSchemeRegistration::OnDestroy::kUnregister));
    } catch (plat::Exception& e) {
      // The browser may still reach a handler registered before.
      vlog.error("Registering %s: %s", product::kUriScheme, e.str());
    }
  }
  showPage(signingIn_, std::make_unique<SigningInPage>(this, signUp));
}

void SetupDlg::signInEnded(bool timedOut)
{
  if (!signingIn_ || current_ != signingIn_.get())
    return;
  vlog.log(30, "Signing in/up %s", timedOut ? "timed out" : "abandoned");
  retire(signingIn_);
  showPage(signInChoose_, std::make_unique<SignInChoosePage>(this, timedOut));
}

void SetupDlg::handleUri(const char* uri)
{
  if (!signingIn_ || current_ != signingIn_.get() || deck_->getChild(deck_->current()) != signingIn_->root())
    throw plat::Exception("URI received when not showing SigningInPage");
  // A refused URI leaves the signing-in page waiting.
  std::unique_ptr<ApplyTokenPage> page(new ApplyTokenPage(this, uri));
  signingIn_->stopWaiting();
  retire(signingIn_);
  showPage(applyToken_, std::move(page))->start();
}

void SetupDlg::tokensApplied(const plat::Exception& result)
{
  if (*result.str() || *result.getType()) {
    showError(result.str(), nullptr);
    return;
  }
  retire(applyToken_);
  showSettings();
}

void SetupDlg::showSettings()
{
  showPage(settings_, std::make_unique<SettingsPage>(this));
}

void SetupDlg::raiseAndActivate()
{
  // The window back-end's handle is its X window.
  if (auto* window = static_cast<tx::TXWindow*>(dialog_->windowHandle()))
    window->raiseAndActivate();
}

hostedremoteaccess::CapsClient* SetupDlg::getCapsClient()
{
  if (!caps_) {
    if (!hostedContext_)
      throw plat::Exception("No cloud configuration");
    hostedSession_.reset(new hosted::HostedHttpSession(hostedContext_, &hosted::BedFormatCallback::instance()));
    caps_.reset(new hostedremoteaccess::CapsClient(hostedContext_, hostedSession_.get()));
  }
  return caps_.get();
}

} // namespace tlOrbSetup
