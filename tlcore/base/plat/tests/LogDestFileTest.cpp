#include "plat/LogDestFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "os/host.h"
#include "plat/Configuration.h"
#include "plat/File.h"
#include "plat/Time.h"
#include "testuser.h"

namespace {

// 2024-03-05T07:08:09.123Z; local time is two hours ahead.
plat::Time fixedNow()
{
  return plat::makeTime(2024, 3, 5, 7, 8, 9) + 123 * plat::kTicksPerMilli;
}

// What precedes the source in a standard line written at fixedNow.
std::string head(int priority, const char* identity, pid_t pid)
{
  return "<" + std::to_string(priority) + "> 2024-03-05T07:08:09.123Z " +
         os::getShortHostName().str() + " " + identity + "[" + std::to_string(pid) + "]: ";
}

std::string readFile(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& text, time_t mtime = 0)
{
  std::ofstream(path, std::ios::binary) << text;
  if (mtime) {
    struct timeval tv[2] = {{mtime, 0}, {mtime, 0}};
    utimes(path.c_str(), tv);
  }
}

std::vector<std::string> listDir(const std::string& dir)
{
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (struct dirent* e = readdir(d))
    if (e->d_name[0] != '.')
      names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

plat::ConfigParameter& param(const char* name)
{
  return *plat::Configuration::global().find(name);
}

class LogDestFileTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    setenv("TZ", "XYZ-2", 1);
    tzset();
    char tmpl[] = "/tmp/tllogdest.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
    log = dir + "/a.log";
  }
  void TearDown() override
  {
    plat::setWallClock(nullptr);
    for (const char* p : {"CompactLog", "LogKeepDays", "LogDir", "LogFile"})
      param(p).resetValues(false);
    (void)plat::tryRmDir(dir.c_str(), true);
  }

  // One opening of the log at `log` and one line.
  void logOnce(const char* text = "x")
  {
    plat::LogDestFile dest(nullptr, "tester", nullptr);
    dest.setPath(log.c_str());
    dest.write(0, "Src", text);
  }

  std::string dir, log;
};

} // namespace

TEST_F(LogDestFileTest, LineFormats)
{
  plat::setWallClock(fixedNow);
  const int levels[] = {0, 1, 5, 6, 10, 11, 30, 31, 100, 110};
  std::string cmd = "/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/syslog_priority.py";
  for (int l : levels)
    cmd += " " + std::to_string(l);
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(nullptr, p);
  std::string expected;
  char buf[64];
  int i = 0;
  while (fgets(buf, sizeof(buf), p))
    expected += head(atoi(buf), "tester", getpid()) + "Src: m" + std::to_string(levels[i++]) + "\n";
  ASSERT_EQ(0, pclose(p));
  ASSERT_EQ(10, i);

  {
    plat::LogDestFile dest(nullptr, "tester", nullptr);
    dest.setPath(log.c_str());
    for (int l : levels)
      dest.write(l, "Src", ("m" + std::to_string(l)).c_str());
  }
  EXPECT_EQ(expected, readFile(log));

  ASSERT_TRUE(param("CompactLog").setParam("1", plat::kPriorityPreference));
  std::string compact = log + ".compact";
  plat::LogDestFile dest(nullptr, "tester", nullptr);
  dest.setPath(compact.c_str());
  dest.write(100, "Src", "text");
  EXPECT_EQ("09:08:09.123 Src: text\n", readFile(compact));
}

TEST_F(LogDestFileTest, RotationAndRetention)
{
  // 2024-03-05 07:08:09 local time.
  const time_t stamp = 1709615289;
  const time_t old = stamp - 40 * 86400, now = time(nullptr);
  const std::string rotated = "a.log.20240305070809";
  ASSERT_TRUE(param("LogKeepDays").setParam("2147483647", plat::kPriorityPreference));

  writeFile(log, "first\n", stamp);
  logOnce();
  writeFile(log, "second\n", stamp);
  logOnce();
  EXPECT_EQ("first\n", readFile(dir + "/" + rotated));
  EXPECT_EQ("second\n", readFile(dir + "/" + rotated + "(1)"));

  // Which files survive an opening, by LogKeepDays.
  struct File {
    const char* name;
    time_t mtime;
  } files[] = {
      {"a.log.20240125070809", old},      {"a.log.20240125070809(12)", old},
      {"a.log.20240125070809(123)", old}, {"a.log.backup", old},
      {"a.log.2024012507080", old},       {"a.log.20240125070809x", old},
      {"a.logx.20240125070809", old},     {"a.log.20990101000000", now - 60},
  };
  struct Case {
    const char* keepDays;
    std::vector<std::string> removed;
  } cases[] = {
      {"30", {"a.log.20240125070809", "a.log.20240125070809(12)"}},
      {"2147483647", {}},
      {"0", {"a.log.20240125070809", "a.log.20240125070809(12)", "a.log.20990101000000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keepDays);
    ASSERT_TRUE(param("LogKeepDays").setParam(c.keepDays, plat::kPriorityPreference));
    (void)plat::tryRmDir(dir.c_str(), true);
    mkdir(dir.c_str(), 0700);
    std::vector<std::string> expected;
    for (const File& f : files) {
      writeFile(dir + "/" + f.name, "", f.mtime);
      if (std::find(c.removed.begin(), c.removed.end(), f.name) == c.removed.end())
        expected.push_back(f.name);
    }
    logOnce();
    expected.push_back("a.log");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, listDir(dir));
  }
}

TEST_F(LogDestFileTest, FileThatCannotBeMovedIsAppendedTo)
{
  // Every rotation name is taken, so the old log stays where it is.
  const time_t stamp = 1709615289;
  writeFile(dir + "/a.log.20240305070809", "", time(nullptr));
  for (int n = 1; n <= 99; n++)
    writeFile(dir + "/a.log.20240305070809(" + std::to_string(n) + ")", "", time(nullptr));
  writeFile(log, "kept\n", stamp);
  logOnce("appended");
  std::string text = readFile(log);
  EXPECT_EQ(0u, text.find("kept\n<11> ")) << text;
  EXPECT_NE(std::string::npos, text.find(": Src: appended\n")) << text;
}

TEST_F(LogDestFileTest, RevertsToTheDefaultFile)
{
  writeFile(dir + "/plain", "");
  ASSERT_TRUE(param("LogDir").setParam((dir + "/default").c_str(), plat::kPriorityDefault));
  ASSERT_TRUE(param("LogFile").setParam("def.log", plat::kPriorityDefault));
  ASSERT_TRUE(
      param("LogFile").setParam((dir + "/plain/sub/x.log").c_str(), plat::kPriorityPreference));

  fflush(stderr);
  std::string errPath = dir + "/stderr.txt";
  int saved = dup(2);
  int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(errFd, 2);
  plat::initFileLogDest("tester", true);
  plat::LogDestFile* dest = plat::getFileLogDest();
  ASSERT_NE(nullptr, dest);
  EXPECT_STREQ((dir + "/plain/sub/x.log").c_str(), dest->getPath().str());
  dest->write(30, "Src", "after");
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(errFd);

  std::string err = readFile(errPath);
  const std::string opening = "Error opening log file: ";
  const std::string reverting = "\nReverting to default log file " + dir + "/default/def.log\n";
  size_t cut = err.find(reverting);
  ASSERT_EQ(0u, err.find(opening + "[System-")) << err;
  ASSERT_EQ(err.size() - reverting.size(), cut) << err;
  std::string firstError = err.substr(opening.size(), cut - opening.size());
  std::string text = readFile(dir + "/default/def.log");
  EXPECT_NE(std::string::npos,
            text.find(": LogDestFile: Error opening log file: " + firstError + "\n"))
      << text;
  EXPECT_EQ(0u, text.find("<11> ")) << text;
  EXPECT_NE(std::string::npos, text.find("]: Src: after\n")) << text;
  // The configured path stays; only the file written is the default one.
  EXPECT_STREQ((dir + "/plain/sub/x.log").c_str(), dest->getPath().str());
  plat::setFileLogEnabled(false);
  EXPECT_FALSE(dest->enabled());
}

// As root, nothing another user controls makes the log write through a
// link: a folder that user owns or can write to is refused (the default
// file is used instead, made 0600), and a link in the log's own place is
// moved aside, never followed.
TEST_F(LogDestFileTest, AsRootLinksAndFoldersOfOtherUsersAreNotFollowed)
{
  TL_REQUIRE_TEST_USER();
  const tltest::TestUser& user = *tltest::testUser();
  ASSERT_EQ(0, chmod(dir.c_str(), 0711));
  const std::string victim = dir + "/victim", made = dir + "/made", def = dir + "/def/def.log";
  writeFile(victim, "secret\n");
  ASSERT_EQ(0, chmod(victim.c_str(), 0600));
  ASSERT_TRUE(param("LogDir").setParam((dir + "/def").c_str(), plat::kPriorityDefault));
  ASSERT_TRUE(param("LogFile").setParam("def.log", plat::kPriorityDefault));
  struct Case {
    const char* folder;
    bool usersFolder;
    int mode;
    const std::string& target;
    bool fallsBack;
  } cases[] = {
      {"u1", true, 0755, victim, true},
      {"u2", true, 0755, made, true},
      {"w", false, 0777, victim, true},
      {"own", false, 0700, made, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    std::string folder = dir + "/" + c.folder, path = folder + "/a.log";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    ASSERT_EQ(0, chmod(folder.c_str(), c.mode));
    if (c.usersFolder) {
      ASSERT_EQ(0, chown(folder.c_str(), user.uid, user.gid));
    }
    bool byUser = c.usersFolder || (c.mode & 02);
    auto plant = [&] { return symlink(c.target.c_str(), path.c_str()); };
    ASSERT_EQ(0, byUser ? tltest::forkAsTestUser(plant) : plant());
    ASSERT_TRUE(param("LogFile").setParam(path.c_str(), plat::kPriorityPreference));
    unlink(def.c_str());
    {
      plat::LogDestFile dest(nullptr, "tester", nullptr);
      dest.setPath(path.c_str());
      dest.write(0, "Src", c.folder);
    }

    EXPECT_EQ("secret\n", readFile(victim));
    EXPECT_FALSE(plat::pathExists(made.c_str()));
    const std::string& written = c.fallsBack ? def : path;
    EXPECT_NE(std::string::npos, readFile(written).find(": Src: " + std::string(c.folder) + "\n"));
    struct stat st;
    ASSERT_EQ(0, lstat(written.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(0600u, st.st_mode & 07777);
  }
}

TEST_F(LogDestFileTest, ThreadsNeverInterleaveLines)
{
  plat::setWallClock(fixedNow);
  plat::LogDestFile dest(nullptr, "tester", nullptr);
  dest.setPath(log.c_str());
  const int kThreads = 4, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++)
    threads.emplace_back([&dest, t] {
      std::string text(400, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; i++)
        dest.write(0, "Src", text.c_str());
    });
  for (std::thread& t : threads)
    t.join();
  std::istringstream in(readFile(log));
  std::string line;
  int count = 0;
  const std::string prefix = head(11, "tester", getpid()) + "Src: ";
  while (std::getline(in, line)) {
    count++;
    ASSERT_EQ(prefix.size() + 400, line.size()) << line;
    ASSERT_EQ(0u, line.find(prefix)) << line;
    char c = line.back();
    ASSERT_TRUE(c >= 'a' && c <= 'd' &&
                line.find_first_not_of(c, prefix.size()) == std::string::npos)
        << line;
  }
  EXPECT_EQ(kThreads * kLines, count);
}

TEST(LogDestStderr, ColourOnlyOnColourTerminals)
{
  struct Case {
    const char* term; // null: unset
    bool toFile;
    bool colour;
  } cases[] = {
      {"xterm-256color", false, true}, {"ansi", false, true},  {"dumb", false, false},
      {nullptr, false, false},         {"xterm", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.term ? c.term : "(unset)") + (c.toFile ? " to file" : ""));
    char fileTmpl[] = "/tmp/tlstderr.XXXXXX";
    int fileFd = mkstemp(fileTmpl);
    ASSERT_GE(fileFd, 0);
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (c.term)
        setenv("TERM", c.term, 1);
      else
        unsetenv("TERM");
      if (c.toFile)
        dup2(fileFd, 2);
      plat::setWallClock(fixedNow);
      plat::initStderrLogDest("tty");
      plat::LogDest* dest = plat::LogDest::find("stderr");
      for (int level : {0, 6, 11, 31})
        dest->write(level, "Src", "t");
      _exit(0);
    }
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(master, buf, sizeof(buf))) > 0)
      out.append(buf, n);
    int status;
    waitpid(pid, &status, 0);
    close(master);
    if (c.toFile)
      out = readFile(fileTmpl);
    close(fileFd);
    unlink(fileTmpl);

    std::string expected;
    const char* codes[] = {"31;1", "31", "36", "0"};
    const int prios[] = {11, 13, 14, 15};
    for (int i = 0; i < 4; i++) {
      // The terminal turns each newline into CR LF.
      std::string line = head(prios[i], "tty", pid) + "Src: t" + (c.toFile ? "\n" : "\r\n");
      expected += c.colour ? std::string("\x1b[") + codes[i] + "m" + line + "\x1b[0m" : line;
    }
    EXPECT_EQ(expected, out);
  }
}
