#include "os/elevate.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <iterator>

#include "loc/Localize.h"
#include "os/host.h"
#include "os/program.h"
#include "plat/Configuration.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/File.h"
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

// Where the elevation programs and terminals are looked for: the system's
// own folders only. The user's PATH may start with a folder the user (or
// anything running as the user) writes, such as ~/.local/bin, and a program
// found there would receive the root password.
const char* const kSystemProgramDirs[] = {"/usr/bin", "/bin", "/usr/sbin", "/sbin"};
#ifdef TL_TEST_HOOKS
std::vector<plat::String> programDirsForTest;
#endif

plat::String findSystemProgram(const char* name)
{
  std::vector<plat::String> dirs(std::begin(kSystemProgramDirs), std::end(kSystemProgramDirs));
#ifdef TL_TEST_HOOKS
  if (!programDirsForTest.empty())
    dirs = programDirsForTest;
#endif
  for (const plat::String& dir : dirs) {
    plat::String found = findExecutable(plat::joinPath(dir.str(), name, false).str(), false);
    if (!found.isNull())
      return found;
  }
  return plat::String();
}

void prepend(std::vector<plat::String>& args, std::vector<plat::String> words)
{
  args.insert(args.begin(), words.begin(), words.end());
}

} // namespace

void setPkexecRouteAllowed(bool allowed)
{
  pkexecAllowed.store(allowed);
}

#ifdef TL_TEST_HOOKS
void setElevateProgramDirsForTest(const std::vector<plat::String>& dirs)
{
  programDirsForTest = dirs;
}
#endif

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
    plat::String pkexec = findSystemProgram("pkexec");
    if (!pkexec.isNull()) {
      prepend(args, {pkexec});
      return;
    }
  }

  plat::String su = findSystemProgram("su");
  plat::String sudo = findSystemProgram("sudo");
  bool haveSu = !su.isNull(), haveSudo = !sudo.isNull();
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
    plat::String path = findSystemProgram(t.name);
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

  // The terminal runs the elevation program by its absolute path, never by
  // a name its shell would look up.
  if (useSu) {
    words.push_back(su);
    for (const char* w : {"-", "root", "-c"})
      words.emplace_back(w);
    words.push_back(shellQuoteArgs(args));
    args = words;
  } else {
    words.push_back(sudo);
    prepend(args, words);
  }
}

} // namespace os
