#include "plat/File.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileTestUtil.h"
#include "plat/Exception.h"
#include "plat/numbers.h"

using namespace filetest;

namespace {

using FileTest = ScratchDir;

TEST_F(FileTest, ModesUnderUmaskZero)
{
  writeFile(path("loose"), "x", 0644);
  mkdir(path("open").c_str(), 0755);
  mkdir(path("world").c_str(), 0777);
  struct Case {
    const char* name;
    std::function<bool()> make; // the call's result
    bool result;
    int mode;
  };
  std::vector<Case> cases = {
      {"priv", [&] { return plat::mkDir(path("priv").c_str(), plat::DirMode::kPrivate); }, true,
       0700},
      {"pub", [&] { return plat::mkDir(path("pub").c_str(), plat::DirMode::kShared); }, true, 0777},
      {"open", [&] { return plat::mkDir(path("open").c_str(), plat::DirMode::kPrivate); }, false,
       0755},
      {"open", [&] { return plat::mkDir(path("open").c_str(), plat::DirMode::kMakePrivate); },
       false, 0700},
      {"a", [&] { return plat::mkDirWithParents(path("a/b/c").c_str(), plat::DirMode::kPrivate); },
       true, 0700},
      {"a/b", [] { return true; }, true, 0700},
      {"a/b/c", [] { return true; }, true, 0700},
      {"world/m", [&] { return plat::mkDirMatchParent(path("world/m").c_str(), false); }, true,
       0755},
      {"world/p", [&] { return plat::mkDirMatchParent(path("world/p").c_str(), true); }, true,
       0700},
      {"world/p", [&] { return plat::mkDirMatchParent(path("world/p").c_str(), true); }, false,
       0700},
      {"fpriv",
       [&] {
         return plat::FilePtr(path("fpriv").c_str(), plat::FilePtr::kWrite, plat::FilePtr::kPrivate)
                    .get() != nullptr;
       },
       true, 0600},
      {"fpub",
       [&] { return plat::FilePtr(path("fpub").c_str(), plat::FilePtr::kWrite).get() != nullptr; },
       true, 0664},
      {"loose",
       [&] {
         plat::fileMakePrivate(path("loose").c_str());
         return true;
       },
       true, 0600},
      {"pub",
       [&] {
         plat::fileMakeSticky(path("pub").c_str());
         return true;
       },
       true, 01777},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, c.make()) << c.name;
    EXPECT_EQ(c.mode, modeOf(path(c.name))) << std::oct << c.name;
  }
}

TEST_F(FileTest, FailuresCarryTheirErrno)
{
  std::string file = path("file"), missing = path("missing");
  writeFile(file, "x");
  mkdir(path("full").c_str(), 0755);
  writeFile(path("full/x"), "x");
  const char* f = file.c_str();
  const char* m = missing.c_str();
  struct Case {
    std::function<void()> call;
    std::string what;
    int err;
  };
  std::vector<Case> cases = {
      {[&] { plat::mkDir(f, plat::DirMode::kPrivate); }, "mkDir(" + file + ")", EEXIST},
      {[&] { plat::mkDirWithParents((file + "/a/b").c_str(), plat::DirMode::kPrivate); },
       "mkDir(" + file + "/a/b)", ENOTDIR},
      {[&] { plat::rmDir(path("full").c_str(), false); }, "rmDir(" + path("full") + ")", ENOTEMPTY},
      {[&] { plat::chDir(m); }, "chDir(" + missing + ")", ENOENT},
      {[&] { plat::fileGetSize(m); }, "fileGetSize(" + missing + ")", ENOENT},
      {[&] { plat::fileGetTime(m); }, "fileGetTime(" + missing + ")", ENOENT},
      {[&] { plat::fileSetTime(m, 1); }, "fileSetTime(" + missing + ")", ENOENT},
      {[&] { plat::fileOpenFd(m, O_RDONLY); }, "fileOpenFd(" + missing + ")", ENOENT},
      {[&] { plat::fileRemove(m); }, "fileRemove(" + missing + ")", ENOENT},
      {[&] { plat::fileRename(m, f); }, "fileRename(" + missing + "," + file + ")", ENOENT},
      {[&] { plat::fileMakePrivate(m); }, "fileMakePrivate/stat(" + missing + ")", ENOENT},
      {[&] { plat::fileMakeSticky(m); }, "fileMakeSticky/stat(" + missing + ")", ENOENT},
      {[&] { plat::FilePtr(m, plat::FilePtr::kRead); }, "Error opening \"" + missing + "\"",
       ENOENT},
      {[&] {
         errno = EBADF;
         plat::checkSysCall(-1, "op(%s)", "p");
       },
       "op(p)", EBADF},
      {[&] { plat::fileTruncate(plat::FilePtr(f, plat::FilePtr::kUpdate), -1); }, "fileTruncate()",
       EINVAL},
  };
  for (const Case& c : cases)
    expectSysError(c.call, c.what, c.err);
  EXPECT_NO_THROW(plat::checkSysCall(0, "op"));
  EXPECT_FALSE(plat::fileExists(m));
  EXPECT_FALSE(plat::fileExists((file + "/x").c_str())); // ENOTDIR counts as missing
  EXPECT_EQ(1, plat::fileGetSize(f));
  plat::fileSetTime(f, plat::unixSecondsToTime(1000000000));
  EXPECT_EQ(plat::unixSecondsToTime(1000000000), plat::fileGetTime(f));
}

// Differs for root, so it runs as nobody.
TEST_F(FileTest, PermissionErrorsAsUnprivilegedUser)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to create what the user nobody is refused";
  mkdir(path("closed").c_str(), 0700);
  writeFile(path("closed/f"), "x");
  writeFile(path("rootfile"), "x", 0644);
  std::string closedF = path("closed/f"), root = path("rootfile"), newDir = path("new");
  runUnprivileged([&]() -> std::string {
    std::string r;
    r += checkSysError([&] { plat::fileExists(closedF.c_str()); }, "fileExists(" + closedF + ")",
                       EACCES);
    r += checkSysError([&] { plat::mkDir(newDir.c_str(), plat::DirMode::kPrivate); },
                       "mkDir(" + newDir + ")", EACCES);
    r += checkSysError([&] { plat::fileMakePrivate(root.c_str()); },
                       "fileMakePrivate/chown(" + root + ")", EPERM);
    r += checkSysError([&] { plat::FilePtr(root.c_str(), plat::FilePtr::kUpdate); },
                       "Error opening \"" + root + "\"", EACCES);
    if (plat::pathExists(closedF.c_str()))
      r += "pathExists sees through a closed directory";
    return r;
  });
}

TEST_F(FileTest, RealpathResolvesLinks)
{
  char real[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath(dir.c_str(), real));
  std::string d = real;
  mkdir((d + "/real").c_str(), 0755);
  writeFile(d + "/real/file", "x");
  symlink((d + "/real").c_str(), (d + "/abs").c_str());
  symlink("real", (d + "/rel").c_str());
  symlink("../real/file", (d + "/real/up").c_str());
  symlink("self", (d + "/self").c_str());
  // chainN -> chainN-1 -> ... -> chain0 -> real/file: N + 1 links.
  symlink("real/file", (d + "/chain0").c_str());
  for (int i = 1; i <= 20; i++)
    symlink(("chain" + std::to_string(i - 1)).c_str(), (d + "/chain" + std::to_string(i)).c_str());

  struct Case {
    std::string path;
    std::string result; // empty: error
    int err;
  };
  std::vector<Case> cases = {
      {"/", "/", 0},
      {d + "/real/file", d + "/real/file", 0},
      {d + "/abs/file", d + "/real/file", 0},
      {d + "/rel/file", d + "/real/file", 0},
      {d + "/rel/up", d + "/real/file", 0},
      {d + "/abs", d + "/real", 0},
      {d + "/chain19", d + "/real/file", 0}, // 20 links
      {d + "/chain20", "", ELOOP},           // 21 links
      {d + "/self", "", ELOOP},
      {d + "/real/file/x", "", ENOTDIR},
      {d + "/real/missing", "", ENOENT},
      {d + "/rel/missing/x", "", ENOENT},
  };
  for (const Case& c : cases) {
    if (c.result.empty())
      expectSysError([&] { plat::realpath("asked", c.path.c_str()); }, "realpath(asked)", c.err);
    else
      EXPECT_STREQ(c.result.c_str(), plat::realpath(c.path.c_str()).str());
  }
}

// A private directory of its own, below the first of the user's home and
// root's folders whose every component is safe (/tmp never is, being
// writable by all), so that the result does not depend on where the
// checkout lies.
std::string makeSafePrivateDir(const std::set<uid_t>& trusted)
{
  std::vector<std::string> parents;
  if (const char* home = getenv("HOME"))
    parents.push_back(home);
  if (const struct passwd* pw = getpwuid(getuid()))
    parents.push_back(pw->pw_dir);
  parents.insert(parents.end(), {"/run", "/var/lib", "/var/cache"});
  for (const std::string& p : parents) {
    char real[PATH_MAX];
    if (!::realpath(p.c_str(), real))
      continue;
    try {
      plat::checkSecurePath(real, trusted);
    } catch (plat::Exception&) {
      continue;
    }
    std::string tmpl = std::string(real) + "/tlsecure.XXXXXX";
    if (mkdtemp(&tmpl[0]))
      return tmpl;
  }
  return "";
}

TEST_F(FileTest, CheckSecurePath)
{
  std::set<uid_t> trusted = {0, getuid()};
  std::string base = makeSafePrivateDir(trusted);
  ASSERT_NE("", base) << "no safe folder to make a private directory in";
  struct Remove {
    ~Remove() { (void)plat::tryRmDir(path.c_str(), true); }
    std::string path;
  } remove{base};
  mkdir((base + "/a").c_str(), 0755);
  writeFile(base + "/a/f", "x", 0644);
  symlink("f", (base + "/a/link").c_str());
  struct Case {
    int dirMode;
    int fileMode;
    std::string path;
    std::set<uid_t> trusted;
    std::string refused; // empty: accepted
  };
  std::vector<Case> cases = {
      {0755, 0644, "/a/f", trusted, ""},     {0755, 0644, "/a/link", trusted, ""},
      {0775, 0644, "/a/f", trusted, "/a"},   {0757, 0644, "/a/f", trusted, "/a"},
      {0755, 0664, "/a/f", trusted, "/a/f"}, {0755, 0646, "/a/link", trusted, "/a/link"},
      {0755, 0644, "/a/f", {kNobody}, "/"},
  };
  for (const Case& c : cases) {
    chmod((base + "/a").c_str(), c.dirMode);
    chmod((base + "/a/f").c_str(), c.fileMode);
    std::string full = base + c.path;
    try {
      plat::checkSecurePath(full.c_str(), c.trusted);
      EXPECT_EQ("", c.refused) << full;
    } catch (plat::Exception& e) {
      std::string prefix = c.refused == "/" ? "/" : base + c.refused;
      EXPECT_EQ(prefix + ": permissions are not restrictive enough", e.str()) << full;
    }
  }
  try {
    plat::resolveSecurePath((base + "/none").c_str(), "/target");
    ADD_FAILURE();
  } catch (plat::Exception& e) {
    EXPECT_EQ(base + "/none must be created and point to /target", e.str());
  }
}

// The verdicts of the installation's paths give the reason checkTrustedAsRoot
// throws: a link loop, a loose folder, a path missing below it, sound paths.
TEST_F(FileTest, InstallPathVerdictsMatchTheRootCheck)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "the verdicts are made for root only";
  std::string base = makeSafePrivateDir({0});
  ASSERT_NE("", base) << "no safe folder to make a private directory in";
  struct Remove {
    ~Remove() { (void)plat::tryRmDir(path.c_str(), true); }
    std::string path;
  } remove{base};
  symlink("loop", (base + "/loop").c_str());
  mkdir((base + "/loose").c_str(), 0777);
  chmod((base + "/loose").c_str(), 0777);
  const std::string loose = base + "/loose: permissions are not restrictive enough";
  const struct {
    std::string path, reason; // reason empty: trusted
  } cases[] = {
      {base + "/loop", "stat(" + base + "/loop): " + strerror(ELOOP) + " (" +
                           std::to_string(ELOOP) + ")"},
      {base + "/loose", loose},
      {base + "/loose/missing/file", loose},
      {base + "/sound", ""},
      {base, ""},
  };
  for (const auto& c : cases) {
    std::string thrown;
    try {
      plat::checkTrustedAsRoot(c.path.c_str());
    } catch (plat::Exception& e) {
      thrown = e.str();
    }
    plat::String why;
    EXPECT_EQ(c.reason.empty(), plat::isInstallPathTrusted(c.path.c_str(), why)) << c.path;
    EXPECT_EQ(c.reason, why.isNull() ? "" : why.str()) << c.path;
    EXPECT_EQ(c.reason, thrown) << c.path;
  }
}

TEST_F(FileTest, MakeUniqueFileNameSequence)
{
  struct Case {
    const char* name;
    int max;
    std::vector<const char*> sequence; // then "Too many files with same name"
  };
  std::vector<Case> cases = {
      {"report.pdf", 3, {"report.pdf", "report (1).pdf", "report (2).pdf", "report (3).pdf"}},
      {"a.b.c", 1, {"a.b.c", "a.b (1).c"}},
      {".profile", 2, {".profile", " (1).profile", " (2).profile"}},
      {"x/y\x01z", 1, {"x-y-z", "x-y-z (1)"}},
      {"once", 0, {"once"}},
      {"never", -1, {}},
  };
  for (const Case& c : cases) {
    for (const char* expected : c.sequence) {
      plat::String got = plat::makeUniqueFileName(dir.c_str(), c.name, " (", ")", c.max);
      EXPECT_EQ(path(expected), got.str());
      writeFile(got.str(), "");
    }
    try {
      plat::makeUniqueFileName(dir.c_str(), c.name, " (", ")", c.max);
      ADD_FAILURE() << c.name;
    } catch (plat::Exception& e) {
      EXPECT_STREQ("Too many files with same name", e.str());
    }
  }
}

TEST_F(FileTest, FilePtrOpenFlags)
{
  using F = plat::FilePtr;
  struct Case {
    int mode;
    int flags;
    bool exists;
    const char* write;
    const char* content; // after writing; null: open throws ENOENT
  };
  std::vector<Case> cases = {
      {F::kRead, 0, true, nullptr, "old"},
      {F::kRead, F::kCreate | F::kTruncate, true, nullptr, "old"},
      {F::kRead, 0, false, nullptr, nullptr},
      {F::kWrite, 0, true, "new", "new"},
      {F::kWrite, F::kAppend, true, "new", "oldnew"},
      {F::kWrite, 0, false, "new", "new"},
      {F::kUpdate, 0, true, "N", "Nld"},
      {F::kUpdate, F::kTruncate, true, "new", "new"},
      {F::kUpdate, 0, false, nullptr, nullptr},
      {F::kUpdate, F::kCreate, false, "new", "new"},
      {F::kUpdate, F::kTruncate, false, "new", "new"},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string p = path("f" + std::to_string(i++));
    if (c.exists)
      writeFile(p, "old");
    if (!c.content) {
      expectSysError([&] { F(p.c_str(), c.mode, c.flags); }, "Error opening \"" + p + "\"", ENOENT);
      F quiet(p.c_str(), c.mode, c.flags | F::kNoThrow);
      EXPECT_EQ(nullptr, quiet.get());
      continue;
    }
    {
      F fp(p.c_str(), c.mode, c.flags);
      ASSERT_NE(nullptr, fp.get());
      EXPECT_TRUE(fp.owns());
      EXPECT_EQ(FD_CLOEXEC, fcntl(fileno(fp), F_GETFD) & FD_CLOEXEC);
      if (c.write)
        ASSERT_EQ(1u, fwrite(c.write, strlen(c.write), 1, fp));
      else
        EXPECT_EQ(EOF, fputc('x', fp)); // read-only
    }
    EXPECT_EQ(c.content, readFile(p)) << "mode " << c.mode << " flags " << c.flags;
  }

  try {
    F fp("-", F::kUpdate);
    ADD_FAILURE();
  } catch (plat::Exception& e) {
    EXPECT_STREQ("Invalid mode for stdin/stdout", e.str());
  }
  {
    F out("-", F::kWrite);
    EXPECT_EQ(stdout, out.get());
    EXPECT_FALSE(out.owns());
  }
  EXPECT_NE(-1, fcntl(STDOUT_FILENO, F_GETFD)); // still open
}

TEST_F(FileTest, ReadLineAndReadAll)
{
  const char raw[] = "a\nb\r\n\xff\nn\0ul\nlast";
  writeFile(path("lines"), std::string(raw, sizeof(raw) - 1));
  plat::FilePtr fp(path("lines").c_str(), plat::FilePtr::kRead);
  plat::DString line;
  for (const char* expected : {"a", "b\r", "\xEF\xBF\xBD", "n\xEF\xBF\xBDul", "last"}) {
    EXPECT_TRUE(fp.readLine(line));
    EXPECT_STREQ(expected, line.get());
  }
  EXPECT_FALSE(fp.readLine(line));
  EXPECT_STREQ("", line.get());

  writeFile(path("text"), "0123456789");
  plat::FilePtr all(path("text").c_str(), plat::FilePtr::kRead);
  plat::MBuf<unsigned char> buf = all.readAll(10);
  EXPECT_EQ("0123456789", std::string((char*)buf.data(), buf.length()));

  // A read from the middle yields less than the file's size: only the bytes
  // read, never uninitialised ones.
  plat::fileSeek(all, 7, SEEK_SET);
  buf = all.readAll(10);
  EXPECT_EQ("789", std::string((char*)buf.data(), buf.length()));

  struct Case {
    const char* content;
    int max;
    const char* message;
  };
  for (const Case& c : std::vector<Case>{
           {"", 10, "Reading from file failed: Success (0)"},
           {"0123456789A", 10, "Error: file is too large (11 > 10)"},
       }) {
    writeFile(path("c"), c.content);
    plat::FilePtr f(path("c").c_str(), plat::FilePtr::kRead);
    try {
      f.readAll(c.max);
      ADD_FAILURE() << c.message;
    } catch (plat::Exception& e) {
      EXPECT_STREQ(c.message, e.str());
    }
  }

  char b[4];
  fseek(all, 0, SEEK_END);
  try {
    plat::fileRead(all, b, sizeof(b));
    ADD_FAILURE();
  } catch (plat::Exception& e) {
    EXPECT_STREQ("End of file", e.str());
    EXPECT_STREQ("EndOfStream", e.getType());
  }
  EXPECT_EQ(10, plat::fileStreamSize(all));
  EXPECT_EQ(10, plat::fileTell(all));
}

TEST_F(FileTest, FileLockAgainstChild)
{
  writeFile(path("lock"), "");
  int toParent[2], toChild[2];
  ASSERT_EQ(0, pipe(toParent));
  ASSERT_EQ(0, pipe(toChild));
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    plat::FilePtr fp(path("lock").c_str(), plat::FilePtr::kUpdate);
    bool locked = plat::fileLock(fp, true);
    char c = locked ? 'L' : 'F';
    (void)!write(toParent[1], &c, 1);
    (void)!read(toChild[0], &c, 1); // hold until told
    plat::fileUnlock(fp);
    (void)!read(toChild[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(1, read(toParent[0], &c, 1));
  ASSERT_EQ('L', c);
  plat::FilePtr fp(path("lock").c_str(), plat::FilePtr::kUpdate);
  EXPECT_FALSE(plat::fileLock(fp, false));
  ASSERT_EQ(1, write(toChild[1], "u", 1));
  EXPECT_TRUE(plat::fileLock(fp, true)); // waits for the child's unlock
  ASSERT_EQ(1, write(toChild[1], "x", 1));
  int status;
  waitpid(pid, &status, 0);
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]})
    close(fd);
}

TEST_F(FileTest, RemovalAndSearchNeverFollowLinks)
{
  mkdir(path("outside").c_str(), 0755);
  writeFile(path("outside/keep"), "x");
  mkdir(path("tree").c_str(), 0755);
  mkdir(path("tree/sub").c_str(), 0755);
  writeFile(path("tree/sub/f"), "x");
  symlink(path("outside").c_str(), path("tree/link").c_str());
  symlink(path("outside").c_str(), path("dirlink").c_str());
  symlink("/", path("tree/sub/root").c_str());
  symlink("..", path("tree/sub/loop").c_str());

  // A search that followed the links would find outside/keep, list all of
  // "/" or never end.
  EXPECT_TRUE(plat::findFileInTree(path("tree").c_str(), "keep").isNull());
  EXPECT_TRUE(plat::findFileInTree(path("tree").c_str(), "none").isNull());
  EXPECT_EQ(path("tree/sub/f"), plat::findFileInTree(path("tree").c_str(), "f").str());
  EXPECT_EQ(path("tree/link"), plat::findFileInTree(dir.c_str(), "link").str());
  EXPECT_TRUE(plat::findFileInTree(path("missing").c_str(), "f").isNull());
  EXPECT_EQ(path("tree/sub/f"),
            plat::findFileInDirs(
                {plat::String(path("tree").c_str()), plat::String(path("tree/sub/").c_str())}, "f")
                .str());

  EXPECT_FALSE(plat::tryRmDir(path("dirlink").c_str(), true)); // the link is not a directory
  EXPECT_EQ("x", readFile(path("outside/keep")));
  EXPECT_TRUE(plat::tryRmDir(path("tree").c_str(), true));
  EXPECT_EQ(-1, modeOf(path("tree")));
  EXPECT_EQ("x", readFile(path("outside/keep")));
}

} // namespace
