#include "plat/Exception.h"

#include <stdio.h>

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plat/Log.h"

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

namespace {

std::string sysText(int err)
{
  char buf[256];
  // GNU strerror_r: the peer the messages must agree with.
  return strerror_r(err, buf, sizeof(buf));
}

struct ChildResult {
  int status;
  std::string err;
};

// Runs fn in a forked child and collects its standard error and exit status.
ChildResult runInChild(const std::function<void()>& fn)
{
  int fds[2];
  EXPECT_EQ(0, pipe(fds));
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 2);
    close(fds[0]);
    close(fds[1]);
    fn();
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0 || (n < 0 && errno == EINTR))
    if (n > 0)
      out.append(buf, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return {status, out};
}

// Test destinations for the "Assertion" source: one prints "%s: %s\n"
// (source, text) on standard error; the others fail in the two possible ways.
class StderrDest : public plat::LogDest {
public:
  StderrDest() : LogDest("errout") {}
  void write(int, const char* src, const char* text) override { fprintf(stderr, "%s: %s\n", src, text); }
};

class FailingDest : public plat::LogDest {
public:
  FailingDest() : LogDest("failing") {}
  void write(int, const char*, const char*) override { PLAT_ASSERT(!"logging failed"); }
};

class ThrowingDest : public plat::LogDest {
public:
  ThrowingDest() : LogDest("throwing") {}
  void write(int, const char*, const char*) override { throw plat::Exception("log down"); }
};

int countOf(const std::string& s, const std::string& what)
{
  int n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
    n++;
  return n;
}

} // namespace

TEST(Exception, SystemErrorTexts)
{
  struct Case {
    const char* what;
    int err;
    std::string message;
  } cases[] = {
      {"x", 0, "x: Success (0)"},
      {"", 2, sysText(2) + " (2)"},
      {"read", 9, "read: " + sysText(9) + " (9)"},
      {"open", EACCES, "open: " + sysText(EACCES) + " (13)"},
      {"odd", 99999, "odd: Unknown error (99999)"},
      {"neg", -3, "neg: Unknown error (-3)"},
  };
  for (const Case& c : cases) {
    plat::SystemException e(c.what, c.err);
    EXPECT_EQ(c.message, e.str()) << c.what;
    EXPECT_EQ("System-" + std::to_string(c.err), e.getType());
    EXPECT_EQ(c.err, e.getErr());
  }

  errno = ENOENT;
  plat::StdlibException s("open(%s)", "/nope");
  EXPECT_EQ("open(/nope): " + sysText(ENOENT) + " (2)", s.str());

  plat::SystemExceptionFmt f(EEXIST, "mkDir(%s)", "/tmp/a");
  EXPECT_EQ("mkDir(/tmp/a): " + sysText(EEXIST) + " (17)", f.str());
  EXPECT_STREQ("System-17", f.getType());
}

TEST(Exception, MessagesAreBoundedOnCharacterBoundaries)
{
  // 254 ASCII bytes, then a three-byte character straddling byte 255.
  std::string text(254, 'a');
  text += "\xe2\x82\xac";
  text += std::string(43, 'b');
  plat::Exception e(text.c_str());
  EXPECT_EQ(std::string(254, 'a'), e.str());

  plat::Exception f(1, "%s-%d", std::string(300, 'z').c_str(), 7);
  EXPECT_EQ(255u, strlen(f.str()));

  plat::Exception empty(nullptr);
  EXPECT_STREQ("", empty.str());
  empty.appendFmt("detail %d", 5);
  EXPECT_STREQ(": detail 5", empty.str());

  plat::Exception full(std::string(255, 'q').c_str());
  full.appendFmt("more");
  EXPECT_EQ(std::string(255, 'q'), full.str());

  // A long error-number text still leaves whole characters and a NUL.
  plat::SystemException sys(std::string(250, 's').c_str(), EACCES);
  EXPECT_EQ(255u, strlen(sys.str()));
}

TEST(Exception, DisplayTextAndTypes)
{
  char buf[plat::Exception::kMessageSize];
  EXPECT_STREQ("plain", plat::Exception("plain").formatDisplay(buf));
  EXPECT_STREQ("[TimedOut] Timed out", plat::TimedOut().formatDisplay(buf));
  EXPECT_STREQ("[System-2] x: " "No such file or directory (2)",
               plat::SystemException("x", 2).formatDisplay(buf));

  try {
    int fd = -1;
    PLAT_CHECK(fd >= 0);
    FAIL() << "no throw";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ("AssertionFail", e.getType());
    EXPECT_THAT(e.formatDisplay(buf),
                MatchesRegex(R"(\[AssertionFail\] Assertion 'fd >= 0' failed at .*ExceptionTest\.cpp:[0-9]+)"));
    auto& a = static_cast<const plat::AssertionFail&>(e);
    EXPECT_STREQ("fd >= 0", a.getExpression());
    EXPECT_GT(a.getLine(), 0);
  }
}

TEST(ExceptionDeathTest, FatalAssertionReportsAndAborts)
{
  ChildResult r = runInChild([] {
    StderrDest dest;
    plat::setLogOverride("Assertion:errout:0");
    int answer = 41;
    PLAT_ASSERT(answer == 42);
  });
  ASSERT_TRUE(WIFSIGNALED(r.status));
  EXPECT_EQ(SIGABRT, WTERMSIG(r.status));
  // First line: the message itself; then the logged message and the frames.
  EXPECT_THAT(r.err, MatchesRegex("Assertion 'answer == 42' failed at [^\n]*ExceptionTest.cpp:[0-9]+\n"
                                  "Assertion: Assertion 'answer == 42' failed[^\n]*\n"
                                  "(Assertion: stacktrace: +[0-9]+ [^\n]*\n)+"));
  EXPECT_THAT(r.err, HasSubstr("stacktrace:  1 "));
}

// The formatted forms put their detail after the place; a passing check
// does not evaluate the detail's arguments.
TEST(ExceptionDeathTest, FormattedAssertionsAppendTheirDetail)
{
  static int evaluated = 0;
  struct Case {
    std::function<void()> fail;
    const char* expected;
  } cases[] = {
      {[] {
         int two = 2;
         PLAT_ASSERT_FMT(two == 3, "two is %d", two);
       },
       "'two == 3' failed at [^\n]*:[0-9]+: two is 2\n"},
      {[] { PLAT_ASSERT_TEXT_FMT(false, "own words", "%s", "why"); },
       "'own words' failed at [^\n]*: why\n"},
      {[] { PLAT_FAIL_FMT("never", "no %s", "detail"); }, "'never' failed at [^\n]*: no detail\n"},
      {[] { PLAT_FAIL_AT_FMT("there", "f.cpp", 7, "x=%d", 1); },
       "'there' failed at f.cpp:7: x=1\n"},
  };
  for (const Case& c : cases) {
    PLAT_ASSERT_FMT(true, "%d", ++evaluated);
    ChildResult r = runInChild(c.fail);
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_THAT(r.err, ContainsRegex("^Assertion " + std::string(c.expected)));
  }
  EXPECT_EQ(0, evaluated);
}

TEST(ExceptionDeathTest, NestedFailureAbortsWithoutReportingTwice)
{
  ChildResult r = runInChild([] {
    FailingDest dest;
    plat::setLogOverride("Assertion:failing:0");
    PLAT_ASSERT(1 + 1 == 3);
  });
  ASSERT_TRUE(WIFSIGNALED(r.status));
  EXPECT_EQ(SIGABRT, WTERMSIG(r.status));
  EXPECT_EQ(1, countOf(r.err, "Assertion '"));
  EXPECT_THAT(r.err, HasSubstr("'1 + 1 == 3'"));
  EXPECT_EQ(0, countOf(r.err, "logging failed"));
}

TEST(ExceptionDeathTest, ThrowingLoggerStillAborts)
{
  ChildResult r = runInChild([] {
    ThrowingDest dest;
    plat::setLogOverride("Assertion:throwing:0");
    PLAT_ASSERT(false);
  });
  ASSERT_TRUE(WIFSIGNALED(r.status));
  EXPECT_EQ(SIGABRT, WTERMSIG(r.status));
  EXPECT_THAT(r.err, HasSubstr("Assertion 'false' failed"));
}

TEST(Exception, WarnLogsAndReturns)
{
  ChildResult r = runInChild([] {
    StderrDest dest;
    ThrowingDest throwing;
    plat::setLogOverride("Assertion:errout:0");
    plat::AssertionFail("x != 0", "f.cpp", 7).warn();
    plat::setLogOverride("Assertion:throwing:0");
    plat::AssertionFail("y", "f.cpp", 8).warn();
  });
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(0, WEXITSTATUS(r.status));
  EXPECT_EQ("Assertion: Warning: Assertion 'x != 0' failed at f.cpp:7\n", r.err);
}
