#include "tlOrbSetup/SetupApp.h"

#include <signal.h>
#include <string.h>

#include <memory>
#include <vector>

#include "hostedremoteaccess/CloudConfig.h"
#include "mui/MuiComms.h"
#include "os/AppLoop.h"
#include "os/SignalHandler.h"
#include "os/host.h"
#include "plat/Configuration.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/LogDestFile.h"
#include "plat/ProductVersionInfo.h"
#include "plat/Shutdown.h"
#include "plat/TestFeatures.h"
#include "product/addresses.h"
#include "product/init.h"
#include "tlOrbSetup/AdminHelper.h"
#include "tlOrbSetup/FrontEnd.h"
#include "tlOrbSetup/SetupComms.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("SetupApp");

hosted::HostedClientContextPtr& cloudConfigHolder()
{
  static hosted::HostedClientContextPtr holder;
  return holder;
}

void releaseCloudConfig()
{
  cloudConfigHolder() = hosted::HostedClientContextPtr();
}

plat::StringParameter uriBaseParam("_UriBase", "URI base", product::kDownloadBase);
plat::StringParameter orbUriParam("_OrbUri", "", "");
plat::ParameterAlias orbUriAlias("OrbUri", orbUriParam);

// With test features, a changed download base recomputes the package URI.
class UriParamDefaultSetter : public plat::ParameterChangedCallback {
public:
  UriParamDefaultSetter() { uriBaseParam.addCallback(this); }
  ~UriParamDefaultSetter() override { uriBaseParam.removeCallback(this); }
  void parameterChanged(plat::ConfigParameter*, int) override
  {
    if (plat::isTestFeaturesEnabled())
      setOrbUriDefault();
  }
};
UriParamDefaultSetter uriParamDefaultSetter;

// SIGINT and SIGTERM end the loop while this lives.
class SignalRoute {
public:
  SignalRoute() : callback_(vlog)
  {
    os::SignalHandler::instance().addHandler(SIGINT, &callback_, true);
    os::SignalHandler::instance().addHandler(SIGTERM, &callback_, true);
  }
  ~SignalRoute()
  {
    os::SignalHandler::instance().addHandler(SIGTERM, &callback_, false);
    os::SignalHandler::instance().addHandler(SIGINT, &callback_, false);
  }
  SignalRoute(const SignalRoute&) = delete;
  SignalRoute& operator=(const SignalRoute&) = delete;

private:
  os::SignalHandlerApp callback_;
};

int runWizard(int argc, char** argv, FrontEnd& frontEnd)
{
  product::init(argc > 0 ? argv[0] : nullptr, "tlzarnconnectsetup", "tlOrbSetup_setupapp_name_r",
                "*:file:100", product::kLoadConfig);
  setOrbUriDefault();

  std::vector<char*> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  args.push_back(nullptr);
  plat::UsagePrinter usage(plat::ProductVersionInfo::buildDesc());
  plat::Configuration::global().parseCmdLine(args.data(), &usage);

  // A wizard already running for this user is raised instead; without its
  // pipe there is none to ask.
  plat::String pipe = setupCommsPath();
  if (plat::pathExists(pipe.str())) {
    try {
      SetupCommsClient client(pipe.str());
      client.send("fg", nullptr);
      client.close();
      return 0;
    } catch (plat::Exception&) {
    }
  }

  plat::setFileLogEnabled(true);
  std::unique_ptr<os::AppLoop> loop = frontEnd.makeLoop();
  SignalRoute signals;
  frontEnd.bindUiModel();
  // The automation channel, from the binding of the UI model until the loop
  // goes.
  std::unique_ptr<mui::MuiComms> automation = mui::MuiComms::start(nullptr, -1, -1);
  std::unique_ptr<FrontEnd::Window> window = frontEnd.makeWindow(loadedCloudConfig());
  auto comms = std::make_unique<SetupComms>(*window);
  window->show();
  int status = loop->run();
  comms.reset();
  window.reset();
  return status;
}

} // namespace

void setOrbUriDefault()
{
  bool testFeatures = plat::isTestFeaturesEnabled();
  const char* kind = os::isDebianLike() ? "deb" : "rpm";
  char arch[32];
  os::getArchName(arch);
  const char* machine = strcmp(arch, "amd64") == 0 ? "x64" : "x86";
  plat::String uri = plat::format("%stessaly-connect/Tessaly-Daziziz-Latest-Linux-%s.%s",
                                  uriBaseParam.getValue(), machine, kind);
  orbUriParam.setParam(uri.str(), testFeatures ? plat::kPriorityDefault : plat::kPriorityPolicy);
  cloudConfigHolder() = hostedremoteaccess::loadCloudConfig();
  plat::addShutdownStep(plat::kShutdownIpcLog - 1, &releaseCloudConfig);
}

hosted::HostedClientContextPtr loadedCloudConfig()
{
  return cloudConfigHolder();
}

int setupMain(int argc, char** argv)
{
  FrontEnd& frontEnd = FrontEnd::get();
  try {
    plat::ProductVersionInfo::set(plat::ProductVersionInfo::kDisplayVersion, "3.0.3 (r200)");
    plat::ProductVersionInfo::set(plat::ProductVersionInfo::kDottedVersion, "3.0.3.200");
    if (argc > 1 && strcmp(argv[1], "-helper") == 0)
      return adminHelperMain(argc, argv);
    if (argc > 1 && strcmp(argv[1], "-uri") == 0)
      return uriHandlerMain(argc, argv);
    return runWizard(argc, argv, frontEnd);
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.error("%s", e.formatDisplay(text));
    frontEnd.showError(e.str());
    return 1;
  }
}

} // namespace tlOrbSetup
