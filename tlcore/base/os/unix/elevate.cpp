#include "os/elevate.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "loc/Localize.h"
#include "os/host.h"
#include "os/program.h"
#include "plat/Configuration.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/Path.h"

namespace os {

plat::StringParameter ElevateCmd(
    "ElevateCmd",
    "Command to run to obtain root privilege.  Must be an absolute path and will be followed by "
    "arguments specifying the command to be run.  For example \"/usr/bin/xterm -e sudo\"",
    "");
plat::BoolParameter ElevateCmdSingleArg(
    "ElevateCmdSingleArg",
    "Whether the ElevateCmd parameter is followed by a single argument with shell quoting (true) or "
    "multiple arguments (false)",
    false);

namespace {

std::atomic<bool> pkexecAllowed{true};

void prepend(std::vector<plat::String>& args, std::vector<plat::String> words)
{
  args.insert(args.begin(), words.begin(), words.end());
}

} // namespace

void setPkexecRouteAllowed(bool allowed)
{
  pkexecAllowed.store(allowed);
}

plat::String shellQuoteArgs(const std::vector<plat::String>& args)
{
  plat::DString out;
  for (size_t i = 0; i < args.size(); i++) {
    if (i)
      out.append(" ");
    out.append("'");
    out.appendReplacing(args[i].str(), "'", "'\\''");
    out.append("'");
  }
  return plat::String(out.get());
}

void getElevateProg(std::vector<plat::String>& args, const char* title)
{
  plat::String cmd(ElevateCmd.getValue());
  if (cmd.length() > 0) {
    std::vector<plat::String> words;
    plat::splitCmdLine(words, cmd.get());
    // Never run a relative program, nor the program itself unelevated.
    if (words.empty() || !plat::isAbsolutePath(words[0].get()))
      throw plat::ExceptionFmt("ElevateCmd must start with an absolute program path: %s",
                               cmd.get());
    if (ElevateCmdSingleArg) {
      plat::String single = shellQuoteArgs(args);
      args = words;
      args.push_back(single);
    } else {
      prepend(args, words);
    }
    return;
  }

  if (pkexecAllowed.load() && getenv("DBUS_SESSION_BUS_ADDRESS")) {
    plat::String pkexec = findExecutable("pkexec", true);
    if (!pkexec.isNull()) {
      prepend(args, {pkexec});
      return;
    }
  }

  bool haveSu = !findExecutable("su", true).isNull();
  bool haveSudo = !findExecutable("sudo", true).isNull();
  if (!haveSu && !haveSudo)
    throw plat::Exception("Elevation not supported: no su or sudo found");
  bool useSu = haveSu && (access("/etc/redhat-release", F_OK) == 0 || !haveSudo);
  const char* bare = useSu ? "su" : "sudo";
  plat::String windowTitle =
      title ? loc::formatArgs(LOC_TR_RAW("os_launchprocess_title_fmt"), title, bare)
            : plat::String(bare);

  std::vector<plat::String> words;
  struct Terminal {
    const char* name;
    const char* titleFlag;
    const char* runFlag;
  };
  static const Terminal kTerminals[] = {{"xterm", "-T", "-e"},
                                        {"lxterminal", "-t", "-e"},
                                        {"konsole", "--title", "-e"},
                                        {"xfce4-terminal", "-T", "-x"},
                                        {"gnome-terminal", "--title", "--"}};
  for (const Terminal& t : kTerminals) {
    plat::String path = findExecutable(t.name, true);
    if (path.isNull())
      continue;
    words = {path, plat::String(t.titleFlag), windowTitle};
    if (!strcmp(t.name, "konsole"))
      words.emplace_back("--nofork");
    if (!strcmp(t.name, "gnome-terminal")) {
      plat::String description;
      getOsDescription(description);
      if (!description.isNull() && strcasestr(description.get(), "ubuntu"))
        words.emplace_back("--disable-factory");
    }
    words.emplace_back(t.runFlag);
    break;
  }
  if (words.empty())
    throw plat::Exception("Elevation not supported: no terminal found");

  if (useSu) {
    for (const char* w : {"su", "-", "root", "-c"})
      words.emplace_back(w);
    words.push_back(shellQuoteArgs(args));
    args = words;
  } else {
    words.emplace_back("sudo");
    prepend(args, words);
  }
}

} // namespace os
