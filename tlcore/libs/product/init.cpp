#include "product/init.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "loc/Localize.h"
#include "os/AppInfo.h"
#include "os/dirs.h"
#include "os/env.h"
#include "os/host.h"
#include "os/process.h"
#include "os/program.h"
#include "plat/Configuration.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/LogDestFile.h"
#include "plat/Markup.h"
#include "plat/Path.h"
#include "plat/ProductVersionInfo.h"
#include "product/addresses.h"
#include "tlutil/ConfigStore.h"

namespace product {

namespace {

using plat::ProductVersionInfo;
using plat::String;

String documentationUri;

plat::LogSrc vlog("ProductInit");

// Every "  " becomes " " once: __DATE__ pads a one-digit day with a blank.
const char kBuildDate[] = __DATE__ " " __TIME__;

// A profile name as one safe path component.
String profileComponent(const char* name)
{
  return plat::sanitiseFileName(name, '-');
}

void makePrivateDir(const char* dir, bool withParents)
{
  try {
    if (withParents)
      plat::mkDirWithParents(dir, plat::DirMode::kMakePrivate);
    else
      plat::mkDir(dir, plat::DirMode::kMakePrivate);
  } catch (plat::Exception&) {
    // Shows up when a file in it is opened.
  }
}

// Rebuilds the version texts now and whenever `Locale` changes, so that
// they follow the language.
class VersionInfoUpdater : public plat::ParameterChangedCallback {
public:
  explicit VersionInfoUpdater(const char* version)
      : version_(version), locale_(plat::Configuration::global().find("Locale"))
  {
    if (locale_)
      locale_->addCallback(this);
    parameterChanged(nullptr, 0);
  }
  ~VersionInfoUpdater() override
  {
    if (locale_)
      locale_->removeCallback(this);
  }

  void parameterChanged(plat::ConfigParameter*, int) override;

private:
  String version_;
  plat::ConfigParameter* locale_;
};

void VersionInfoUpdater::parameterChanged(plat::ConfigParameter*, int)
{
  plat::DString build;
  build.appendf("%s %s %s (%s)", os::AppInfo::getRawDisplayName(true),
                ProductVersionInfo::displayVersion(), "x64", kBuildDate);
  build.replaceAll("  ", " ");
  ProductVersionInfo::set(ProductVersionInfo::kBuildDesc, build.get());

  String docVersion = version_;
  if (docVersion.isNull()) {
    const char* dotted = ProductVersionInfo::dottedVersion();
    if (!dotted)
      dotted = "";
    const char* dot = strchr(dotted, '.');
    docVersion = String(dotted, dot ? (int)(dot - dotted) : -1);
  }
  documentationUri = plat::format("%s/docs/%s/foss.html", kWebSite, docVersion.str());

  plat::DString about;
  for (const char* key : {"product_copyright", "product_trademarks", "product_patents"}) {
    plat::Markup::appendDivStart(about, 0, nullptr);
    plat::Markup::appendEscaped(about, LOC_TR(key));
    about.append("</div>");
  }
  plat::DString escapedUri;
  plat::Markup::appendEscaped(escapedUri, documentationUri.str());
  String info = loc::formatArgs(LOC_TR_RAW("product_info_marked_up_fmt"), escapedUri.get());
  plat::Markup::appendSpan(about, info.str(), nullptr, 120);
  ProductVersionInfo::set(ProductVersionInfo::kAboutMarkup, about.get());

  String osDesc, osVersion;
  os::getOsDescription(osDesc);
  os::getOsVersion(osVersion);
  char arch[32];
  os::getArchName(arch);
  plat::DString osLine;
  osLine.append("OS: ");
  if (osDesc.length() > 0)
    osLine.append(osDesc.str()).append(", ");
  osLine.appendf("%s, %s", osVersion.str(), arch);
  ProductVersionInfo::set(ProductVersionInfo::kOsLine, osLine.get());

  plat::DString product;
  product.appendf("%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s", build.get(), LOC_TR("product_copyright"),
                  LOC_TR("product_trademarks"), LOC_TR("product_patents"),
                  LOC_TR("product_further_info"), LOC_TR("product_ack_intro"),
                  documentationUri.str(), osLine.get());
  product.replaceAll("\xc2\xae", "(R)");
  product.replaceAll("\xc2\xa9", "(C)");
  product.replaceAll("\xe2\x84\xa2", "(TM)");
  String wrapped = product.takeString();
  // The wrap counts UTF-8 characters and asks libc nothing, so it needs no
  // libc locale (loc::wordWrap would load the whole of one).
  plat::wordWrap(wrapped, 79, 0);
  ProductVersionInfo::set(ProductVersionInfo::kProductInfo, wrapped.str());
  plat::setLogFileHeader(wrapped.str());
}

} // namespace

void initAppInfo(const char* programPath, const char* appName, const char* displayKey)
{
  const char* provisional = appName ? appName : programPath ? programPath : "";
  os::AppInfo::set(provisional, "Tessaly", "zarn", displayKey, nullptr);
  loc::Localize::instance()->init({});

  String exe = os::getProgramFile();
  if (exe.isNull())
    throw plat::Exception("Error: could not find program executable");
  if (!appName)
    os::AppInfo::setAppName(plat::baseName(exe.str(), ".exe").str());

  const char* home = getenv("HOME");
  if (!home || geteuid() == 0) {
    os::Account account;
    account.lookup(false, nullptr, geteuid());
    os::setEnv("HOME", account.getHomeDir());
  }
  os::setSystemConfigDir("/etc/zarn");
}

void initProfileDirs()
{
  String user =
      plat::expandEnvVars("$HOME/.zarn", nullptr, plat::EnvExpand::kUseEnvironment).takeString();
  const char* profile = getenv("ZARN_PROFILE");
  const char* configProfile = getenv("ZARN_CONFIG_PROFILE");
  String profiles = plat::format("%s/profiles", user.str());

  os::setUserDir(user.str());
  String profileDir = profile && *profile
                          ? plat::format("%s/%s", profiles.str(), profileComponent(profile).str())
                          : user;
  String configProfileDir =
      configProfile && *configProfile
          ? plat::format("%s/%s", profiles.str(), profileComponent(configProfile).str())
          : profileDir;
  String configDir = plat::format("%s/config.d", configProfileDir.str());
  os::setProfileDir(profileDir.str());
  os::setConfigProfileDir(configProfileDir.str());
  os::setConfigDir(configDir.str());
  os::setProgramConfigFile(
      plat::format("%s/%s", configDir.str(), os::AppInfo::getAppName(false)).str());
  os::setEnv("ZARN_PROFILE_DIR", profileDir.str());

  makePrivateDir(user.str(), false);
  makePrivateDir(profileDir.str(), true);
  makePrivateDir(configDir.str(), true);
}

void initTranslationDirs()
{
  std::vector<String> dirs;
  dirs.emplace_back(os::getUserDir());
  dirs.emplace_back(os::getSystemConfigDir());
  String programDir = os::getProgramDir();
  if (!programDir.isNull()) {
    const char* sep = plat::strEndsWith(programDir.str(), "/") ? "" : "/";
    String dir = plat::format("%s%s%s", programDir.str(), sep, os::AppInfo::getPathComp(true));
    // As root, string files beside the program count only where no other
    // user can change them, as configuration and data files there.
    String why;
    if (plat::isInstallPathTrusted(dir.str(), why))
      dirs.push_back(std::move(dir));
    else
      vlog.status("Skipping %s as root: %s", dir.str(), why.str());
  }
  loc::Localize::instance()->setStringsDirs(dirs);
}

void installVersionInfoUpdater(const char* version)
{
  if (!ProductVersionInfo::displayVersion())
    ProductVersionInfo::set(ProductVersionInfo::kDisplayVersion, "0.1");
  if (!ProductVersionInfo::dottedVersion())
    ProductVersionInfo::set(ProductVersionInfo::kDottedVersion,
                            ProductVersionInfo::displayVersion());
  // Made after `Locale` (a static), so destroyed before it.
  static VersionInfoUpdater updater(version);
}

void initLogging(const char* logSetting, const char* logDir, const char* logFile, bool openNow)
{
  if (!getenv("ZARN_PROFILE_DIR"))
    os::setEnv("ZARN_PROFILE_DIR",
               plat::expandEnvVars("$HOME/.zarn", nullptr, plat::EnvExpand::kUseEnvironment).get());
  plat::Configuration& config = plat::Configuration::global();
  const char* app = os::AppInfo::getAppName(false);
  // Expanded when the file is opened.
  const char* userLogDir = geteuid() != 0 ? "$ZARN_PROFILE_DIR" : "/var/log";
  config.set("LogDir", logDir ? logDir : userLogDir, plat::kPriorityDefault);
  config.set("LogFile", logFile ? logFile : plat::format("%s.log", app).str(),
             plat::kPriorityDefault);
  plat::initStderrLogDest(app);
  plat::initFileLogDest(app, openNow);
  config.set("Log", logSetting ? logSetting : "*:stderr:10", plat::kPriorityDefault);
}

void loadConfigStore(plat::Configuration* cfg)
{
  static tlutil::ConfigStoreFile store;
  store.loadAll(true, cfg);
}

void setGroup(const char* name)
{
  os::AppInfo::setGroup(name);
}

const char* getDocumentationUri()
{
  return documentationUri.str();
}

void init(const char* programPath, const char* appName, const char* displayKey,
          const char* logSetting, unsigned flags)
{
  initAppInfo(programPath, appName, displayKey);
  initProfileDirs();
  initTranslationDirs();
  installVersionInfoUpdater(nullptr);
  initLogging(logSetting, nullptr, nullptr, false);
  plat::Configuration::global().set("_ProductUri", kWebSite, plat::kPriorityDefault);
  if (flags & kLoadConfig)
    loadConfigStore(nullptr);
  if (flags & kEnableFileLog)
    plat::setFileLogEnabled(true);
}

} // namespace product
