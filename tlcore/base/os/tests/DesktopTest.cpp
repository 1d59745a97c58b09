// Desktop integration against the real tools: the entry's escaping through
// desktop-file-validate and `gio launch`, registration with xdg-mime and
// update-desktop-database (and a failing xdg-mime in a mount namespace),
// and opening URLs as the test user with fake openers and the real xdg-open.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "childio.h"
#include "os/AppInfo.h"
#include "os/desktop.h"
#include "os/program.h"
#include "plat/Exception.h"
#include "plat/Markup.h"
#include "plat/Time.h"

namespace {

using tltest::TempDir;

void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644)
{
  FILE* f = fopen(path.c_str(), "we");
  ASSERT_TRUE(f) << path;
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  chmod(path.c_str(), mode);
}

// A program that records its name and arguments ("a|b|c|") in $REC, or
// in recordPath when given.
std::string recorder(const std::string& recordPath = "")
{
  std::string rec = recordPath.empty() ? "$REC" : "'" + recordPath + "'";
  return "#!/bin/sh\nprintf '%s|' \"$0\" \"$@\" > " + rec + ".tmp; /bin/mv " + rec + ".tmp " + rec +
         "\n";
}

// Waits (30 s at most) for a file to appear; its text.
std::string waitForFile(const std::string& path)
{
  plat::Time end = plat::getMonoTime() + 30 * plat::kTicksPerSecond;
  while (access(path.c_str(), F_OK) != 0 && plat::getMonoTime() < end)
    usleep(10000);
  return tltest::readFileIfAny(path);
}

int run(const std::string& cmd)
{
  int status = system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void plainDesktopEnvironment(const std::string& home)
{
  setenv("HOME", home.c_str(), 1);
  for (const char* v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS",
                        "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                        "GNOME_DESKTOP_SESSION_ID", "DBUS_SESSION_BUS_ADDRESS", "BROWSER"})
    unsetenv(v);
}

TEST(DesktopEntry, EscapingKeepsTheProgramExact)
{
  struct Case {
    std::string dirName; // holds the program "prog"
    std::string exec;    // expected Exec value before " -uri %u"
    bool gio = true;     // GLib looks for the program before it undoes "%%"
  };
  TempDir tmp("tldesk");
  const Case cases[] = {
      {"plain", tmp / "plain/prog"},
      {"a b", "\"" + tmp / "a b/prog\""},
      {"100%", tmp / "100%%/prog", false},
      {"$HOME", "\"" + tmp.path() + "/\\\\$HOME/prog\""},
      {"q\"u'o`te", "\"" + tmp.path() + "/q\\\\\"u'o\\\\`te/prog\""},
      {"back\\slash", "\"" + tmp.path() + "/back\\\\\\\\slash/prog\""},
      {"semi;(x)*?#<>|&~", "\"" + tmp / "semi;(x)*?#<>|&~/prog\""},
  };
  const std::string uri = "example.daziziz.setup://signin?a=1&b=%20";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dirName);
    std::string dir = tmp / c.dirName, program = dir + "/prog", rec = tmp / "rec";
    ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
    writeFile(program, recorder(rec), 0755);
    plat::String text =
        os::desktopEntryText("example.daziziz.setup", "Name\x01\nwith\ttabs\\", program.c_str());
    EXPECT_EQ("[Desktop Entry]\nType=Application\nName=Name\\nwith\\ttabs\\\\\nExec=" + c.exec +
                  " -uri %u\nMimeType=x-scheme-handler/example.daziziz.setup;\nNoDisplay=true\n",
              text.str());
    std::string entry = tmp / "t.desktop";
    writeFile(entry, text.str());
    EXPECT_EQ(0, run("desktop-file-validate " + entry));
    if (!c.gio)
      continue;
    unlink(rec.c_str());
    EXPECT_EQ(
        0, run("HOME=" + tmp.path() + " gio launch " + entry + " '" + uri + "' >/dev/null 2>&1"));
    EXPECT_EQ(program + "|-uri|" + uri + "|", waitForFile(rec));
  }
}

// Runs fn in a child with HOME set to home and the plain environment; the
// child's report.
std::string inHome(const std::string& home, const std::function<std::string()>& fn)
{
  return tltest::childReport([&] {
    plainDesktopEnvironment(home);
    try {
      return fn();
    } catch (plat::Exception& e) {
      return std::string("error: ") + e.str();
    }
  });
}

TEST(UrlSchemeRegistration, WithTheRealTools)
{
  os::AppInfo::setAppName("desktoptest");
  os::AppInfo::setDisplayName("Desktop Test");
  TempDir home("tldeskhome");
  const char* scheme = "example.daziziz.desktoptest";
  std::string apps = home / ".local/share/applications";
  std::string file = apps + "/example.daziziz.desktoptest.desktop";
  std::string mimeapps = home / ".config/mimeapps.list";
  plat::String self = os::getProgramFile();
  std::string expected =
      "[Desktop Entry]\nType=Application\nName=" + std::string(os::AppInfo::getDisplayName(false)) +
      "\nExec=" + self.str() + " -uri %u\nMimeType=x-scheme-handler/" + scheme +
      ";\nNoDisplay=true\n";
  auto reg = [&](os::UrlSchemeRegistration::OnDestroy onDestroy) {
    os::UrlSchemeRegistration r(scheme, onDestroy);
    return tltest::readFileIfAny(file);
  };
  using OnDestroy = os::UrlSchemeRegistration::OnDestroy;

  // Registered twice, HOME with a trailing "/" the second time; kept.
  EXPECT_EQ(expected, inHome(home.path(), [&] { return reg(OnDestroy::kKeep); }));
  EXPECT_EQ(expected, inHome(home.path() + "/", [&] { return reg(OnDestroy::kKeep); }));
  EXPECT_EQ(expected, tltest::readFileIfAny(file));
  EXPECT_EQ(0, run("desktop-file-validate " + file));
  EXPECT_TRUE(tltest::readFileIfAny(mimeapps).find("x-scheme-handler/example.daziziz.desktoptest="
                                                   "example.daziziz.desktoptest.desktop") !=
              std::string::npos)
      << tltest::readFileIfAny(mimeapps);
  EXPECT_TRUE(tltest::readFileIfAny(apps + "/mimeinfo.cache").find("example.daziziz.desktoptest") !=
              std::string::npos);
  struct stat st;
  ASSERT_EQ(0, stat(apps.c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);

  // Removed by the destructor; the MIME default stays.
  EXPECT_EQ(expected, inHome(home.path(), [&] { return reg(OnDestroy::kUnregister); }));
  EXPECT_NE(0, access(file.c_str(), F_OK));
  EXPECT_TRUE(tltest::readFileIfAny(mimeapps).find("example.daziziz.desktoptest.desktop") !=
              std::string::npos);
  EXPECT_TRUE(tltest::readFileIfAny(apps + "/mimeinfo.cache").find("example.daziziz.desktoptest") ==
              std::string::npos);

  // Explicit unregistering.
  EXPECT_EQ("gone", inHome(home.path(), [&] {
              os::UrlSchemeRegistration r(scheme, OnDestroy::kKeep);
              r.unregister();
              return std::string(access(file.c_str(), F_OK) == 0 ? "kept" : "gone");
            }));

  // HOME unset or a plain file.
  std::string plainFile = home / "plain";
  writeFile(plainFile, "x");
  for (const char* h : {"", "unset", "plain"}) {
    EXPECT_EQ("error: HOME dir not found", tltest::childReport([&] {
                plainDesktopEnvironment(home.path());
                if (!strcmp(h, "unset"))
                  unsetenv("HOME");
                else
                  setenv("HOME", !strcmp(h, "plain") ? plainFile.c_str() : h, 1);
                try {
                  os::UrlSchemeRegistration r(scheme, OnDestroy::kUnregister);
                  return std::string("registered");
                } catch (plat::Exception& e) {
                  return std::string("error: ") + e.str();
                }
              }))
        << h;
  }
}

TEST(UrlSchemeRegistration, AFailingXdgMimeKeepsTheFile)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root for a mount namespace";
  os::AppInfo::setAppName("desktoptest");
  TempDir home("tldeskfail");
  std::string fake = home / "xdg-mime";
  writeFile(fake, "#!/bin/sh\nexit 3\n", 0755);
  std::string file = home / ".local/share/applications/example.daziziz.failtest.desktop";
  EXPECT_EQ("error: Registering URL scheme handler failed|kept",
            inHome(home.path(), [&]() -> std::string {
              if (unshare(CLONE_NEWNS) != 0 ||
                  mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                  mount(fake.c_str(), "/usr/bin/xdg-mime", nullptr, MS_BIND, nullptr) != 0)
                return "mount namespace failed";
              try {
                os::UrlSchemeRegistration r("example.daziziz.failtest",
                                            os::UrlSchemeRegistration::OnDestroy::kKeep);
                return "registered";
              } catch (plat::Exception& e) {
                return std::string("error: ") + e.str() +
                       (access(file.c_str(), F_OK) == 0 ? "|kept" : "|gone");
              }
            }));
}

// openUrl as the test user (or ourselves when not root), PATH holding only
// the fakes; "<result>:<record>".
std::string openAs(const std::string& url, const std::vector<std::string>& openers,
                   bool realRoot = false)
{
  TempDir tmp("tldeskopen");
  const tltest::TestUser* user = geteuid() == 0 ? tltest::testUser() : nullptr;
  std::string bin = tmp / "bin", rec = tmp / "rec";
  mkdir(bin.c_str(), 0755);
  for (const std::string& o : openers) {
    if (o.rfind("broken:", 0) == 0)
      writeFile(bin + "/" + o.substr(7), "#!/nonexistent/interpreter\n", 0755);
    else
      writeFile(bin + "/" + o, recorder(), 0755);
  }
  if (user && chown(tmp.path().c_str(), user->uid, user->gid) != 0)
    return "chown failed";
  return tltest::childReport(
      [&] {
        if (realRoot && (getuid() != 0 || setresuid(0, 0, 0) != 0))
          return std::string("not root");
        setenv("PATH", bin.c_str(), 1);
        setenv("REC", rec.c_str(), 1);
        std::string result = std::to_string(os::openUrl(url.c_str())) +
                             std::to_string(os::canOpenUrl()) +
                             std::to_string(plat::LinkCbOpenUrl().linkActivated(url.c_str()));
        return result + ":" + (result[0] == '1' ? waitForFile(rec) : tltest::readFileIfAny(rec));
      },
      user && !realRoot ? tltest::ChildUser::kTestUser : tltest::ChildUser::kSame);
}

TEST(OpenUrl, FakeOpenersAsTheTestUser)
{
  if (geteuid() == 0 && !tltest::testUser())
    GTEST_SKIP() << "needs the test user when run as root";
  const std::string url = "https://www.daziziz.example/docs?a=1&b=2";
  struct Case {
    std::vector<std::string> openers;
    std::string url;
    std::string expected; // with "@" for the bin directory
  };
  const Case cases[] = {
      {{"firefox", "exo-open", "xdg-open", "gnome-open"}, url, "111:@/xdg-open|" + url + "|"},
      {{"firefox", "kfmclient", "exo-open"}, url, "111:@/kfmclient|exec|" + url + "|"},
      {{"firefox"}, url, "111:@/firefox|" + url + "|"},
      {{"google-chrome", "chromium-browser", "firefox"}, url, "111:@/google-chrome|" + url + "|"},
      // Found but cannot start: the next one is tried.
      {{"broken:xdg-open", "broken:gnome-open", "exo-open"}, url, "111:@/exo-open|" + url + "|"},
      {{"broken:xdg-open"}, url, "010:"},
      {{}, url, "000:"},
      // Nothing an opener would take for an option.
      {{"xdg-open"}, "-display", "010:"},
      {{"xdg-open"}, "", "010:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.openers.empty() ? "none" : c.openers[0]);
    std::string got = openAs(c.url, c.openers);
    size_t bin = got.find("/tmp/tldeskopen-");
    if (bin != std::string::npos)
      got.replace(bin, got.find("/bin/", bin) + 4 - bin, "@");
    EXPECT_EQ(c.expected, got);
  }
}

TEST(OpenUrl, RootStartsNothing)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root";
  EXPECT_EQ("000:", openAs("https://x.example/", {"xdg-open", "firefox"}, true));
  // A real id of 0 is enough.
  const tltest::TestUser* user = tltest::testUser();
  if (!user)
    GTEST_SKIP() << "needs the test user";
  EXPECT_EQ("000", tltest::childReport([&] {
              setenv("PATH", "/usr/bin:/bin", 1);
              if (setresuid(0, user->uid, 0) != 0)
                return std::string("setresuid failed");
              return std::to_string(os::openUrl("https://x.example/")) +
                     std::to_string(os::canOpenUrl()) +
                     std::to_string(plat::LinkCbOpenUrl().linkActivated("https://x.example/"));
            }));
}

TEST(OpenUrl, RealXdgOpenHandsTheUrlToTheRegisteredBrowser)
{
  if (geteuid() == 0 && !tltest::testUser())
    GTEST_SKIP() << "needs the test user when run as root";
  const tltest::TestUser* user = geteuid() == 0 ? tltest::testUser() : nullptr;
  TempDir home("tldeskxdg");
  std::string apps = home / ".local/share/applications", rec = home / "rec";
  std::string browser = home / "fakebrowser";
  writeFile(browser, recorder(rec), 0755);
  ASSERT_EQ(0, run("mkdir -p " + apps));
  writeFile(apps + "/fakebrowser.desktop",
            "[Desktop Entry]\nType=Application\nName=Fake browser\nExec=" + browser +
                " %u\nMimeType=x-scheme-handler/https;\n");
  if (user) {
    ASSERT_EQ(0, run("chown -R " + std::to_string(user->uid) + ":" + std::to_string(user->gid) +
                     " " + home.path()));
  }
  const std::string url = "https://www.daziziz.example/signin?x=1&y=%2F";
  std::string got = tltest::childReport(
      [&] {
        plainDesktopEnvironment(home.path());
        setenv("DISPLAY", ":99", 1);
        setenv("PATH", "/usr/bin:/bin", 1);
        if (run("xdg-mime default fakebrowser.desktop x-scheme-handler/https") != 0)
          return std::string("xdg-mime failed");
        bool opened = os::openUrl(url.c_str());
        return std::to_string(opened) + ":" + waitForFile(rec);
      },
      user ? tltest::ChildUser::kTestUser : tltest::ChildUser::kSame);
  EXPECT_EQ("1:" + browser + "|" + url + "|", got);
}

} // namespace
