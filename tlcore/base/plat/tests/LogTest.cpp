#include "plat/Log.h"

#include <printf.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plat/ConfigParameter.h"
#include "plat/Configuration.h"
#include "testutil.h"

using ::testing::ElementsAre;

namespace {

// Records every line it is given as "level source: text".
class CaptureDest : public tltest::CaptureDest {
public:
  explicit CaptureDest(const char* name) : tltest::CaptureDest(name, kLevelSourceText) {}
};

// Stand-ins for the destinations the grammar examples name.
CaptureDest stderrDest("stderr");
CaptureDest fileDest("file");
CaptureDest capDest("cap");

plat::LogSrc fooBar("FooBar");
plat::LogSrc fooBaz("FooBaz");
plat::LogSrc otherSrc("OtherSource");

std::string captureStderr(const std::function<void()>& fn)
{
  fflush(stderr);
  FILE* tmp = tmpfile();
  int saved = dup(2);
  dup2(fileno(tmp), 2);
  fn();
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  return tltest::readAndClose(tmp);
}

class LogTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    plat::resetMemLogForTests();
    plat::setLogOverride("");
    for (CaptureDest* d : {&stderrDest, &fileDest, &capDest}) {
      d->on = true;
      d->take();
    }
  }
  void TearDown() override
  {
    plat::setLogOverride(nullptr);
    plat::resetMemLogForTests();
  }
};

} // namespace

TEST_F(LogTest, Grammar)
{
  const std::string noLevel = "Failed to parse log param element: '*:stderr'\n";
  struct Case {
    const char* log;
    std::string err;
    int fooBar, fooBaz, other;
  } cases[] = {
      {"*:stderr:30", "", 30, 30, 30},
      {"Foo*:file:100,FooBar:file:0", "", 0, 100, -1},
      {"FooBar:file:0,FooBar:file:9", "", 9, -1, -1},
      {"*:stderr", noLevel + noLevel, -1, -1, -1},
      {"*:stderr:-1", std::string(2, 'x'), -1, -1, -1},
      {"*:stderr:", std::string(2, 'x'), -1, -1, -1},
      {"*:stderr:5x", std::string(2, 'x'), -1, -1, -1},
      {"*:stderr:30:9", std::string(2, 'x'), -1, -1, -1},
      {"*:stderr:2147483648", std::string(2, 'x'), -1, -1, -1},
      {"*:stderr: +7", "", 7, 7, 7},
      {"*::30", "", -1, -1, -1},
      {"*:nowhere:30", "No LogDest found: 'nowhere'\nNo LogDest found: 'nowhere'\n", -1, -1, -1},
      {"*:STDERR:30", "", 30, 30, 30},
      {"foobar:stderr:100", "", 100, -1, -1},
      {"*bar:file:1,o*s*:file:2", "", 1, -1, 2},
      {"", "", -1, -1, -1},
      {",,fooba*:file:5,,bad,OTHER*:cap:7,",
       "Failed to parse log param element: 'bad'\nFailed to parse log param element: 'bad'\n", 5, 5, 7},
  };
  for (const Case& c : cases) {
    std::string err = captureStderr([&] { plat::setLogOverride(c.log); });
    if (c.err == "xx") {
      std::string line = std::string("Failed to parse log param element: '") + c.log + "'\n";
      EXPECT_EQ(line + line, err) << c.log;
    } else {
      EXPECT_EQ(c.err, err) << c.log;
    }
    EXPECT_EQ(c.fooBar, fooBar.getLevel()) << c.log;
    EXPECT_EQ(c.fooBaz, fooBaz.getLevel()) << c.log;
    EXPECT_EQ(c.other, otherSrc.getLevel()) << c.log;
  }

  // The per-destination level decides, not the highest one of the source.
  plat::setLogOverride("Foo*:file:100,FooBar:file:0");
  fooBar.info("bar");
  fooBaz.info("baz");
  EXPECT_THAT(fileDest.take(), ElementsAre("100 FooBaz: baz"));
}

TEST_F(LogTest, StatusRoutingDropsInfoOnceReleased)
{
  plat::setLogOverride("*:stderr:30");
  plat::flushMemLog();
  for (plat::LogSrc* s : {&fooBar, &otherSrc}) {
    s->error("e");
    s->status("s");
    s->info("i");
    s->debug("d");
    s->log(31, "l");
  }
  EXPECT_THAT(stderrDest.take(),
              ElementsAre("0 FooBar: e", "30 FooBar: s", "0 OtherSource: e", "30 OtherSource: s"));
  EXPECT_TRUE(fooBar.disabled(plat::LogSrc::kInfo));
  EXPECT_FALSE(fooBar.disabled(plat::LogSrc::kStatus));
}

TEST_F(LogTest, ParameterAppliesRouting)
{
  plat::setLogOverride(nullptr);
  plat::ConfigParameter* p = plat::Configuration::global().find("Log");
  ASSERT_NE(nullptr, p);
  EXPECT_STREQ("string", p->getTypeName());
  ASSERT_TRUE(p->setParam("OtherSource:cap:0", plat::kPriorityPreference));
  otherSrc.error("via parameter");
  EXPECT_THAT(capDest.take(), ElementsAre("0 OtherSource: via parameter"));

  // The override wins until it is cleared again.
  plat::setLogOverride("");
  otherSrc.error("hidden");
  EXPECT_TRUE(capDest.take().empty());
  plat::setLogOverride(nullptr);
  otherSrc.error("back");
  EXPECT_THAT(capDest.take(), ElementsAre("0 OtherSource: back"));
  p->unset(plat::kPriorityPreference, true);
  EXPECT_EQ(-1, otherSrc.getLevel());
}

TEST_F(LogTest, EarlyMessagesAreKeptAndReplayed)
{
  // 600 messages cycling through error, status and info.
  for (int i = 0; i < 600; i++)
    fooBar.log(i % 3 == 0 ? 0 : i % 3 == 1 ? 30 : 100, "m%d", i);

  plat::setLogOverride("*:cap:30");
  std::vector<std::string> lines = capDest.take();
  ASSERT_EQ(2u + 334 + 1, lines.size());
  EXPECT_EQ("30 LogDestMem: Start replaying stored messages", lines.front());
  EXPECT_EQ("0 FooBar: m0", lines[1]);
  EXPECT_EQ("30 FooBar: m1", lines[2]);
  EXPECT_EQ("0 FooBar: m3", lines[3]);
  EXPECT_EQ("30 FooBar: m499", lines[334]);
  EXPECT_EQ("0 LogDestMem: Too many messages, discarding further ones", lines[335]);
  EXPECT_EQ("30 LogDestMem: Finished replaying stored messages", lines.back());

  // The info messages stay until the release; a disabled destination gets
  // no replay.
  CaptureDest all(nullptr);
  plat::LogDestMem::get()->replay(&all, INT_MAX);
  lines = all.take();
  ASSERT_EQ(2u + 166, lines.size());
  EXPECT_EQ(std::to_string(INT_MAX) + " LogDestMem: Start replaying stored messages", lines[0]);
  EXPECT_EQ("100 FooBar: m2", lines[1]);
  EXPECT_EQ("100 FooBar: m497", lines[166]);

  capDest.on = false;
  plat::setLogOverride("*:cap:100");
  EXPECT_TRUE(capDest.take().empty());
  capDest.on = true;

  plat::flushMemLog();
  plat::LogDestMem::get()->replay(&all, INT_MAX);
  EXPECT_TRUE(all.take().empty());
  EXPECT_EQ(2u + 166, capDest.take().size());
}

TEST_F(LogTest, Escaping)
{
  struct Case {
    const char* text;
    const char* logged;
  } cases[] = {
      {"a\tb~c", "a~^Ib~~c"},
      {"line\n", "line~^J"},
      {"del\x7f", "del~^?"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"bad\xff", "bad~M^?"},
      {"cut\xc3", "cut~M-C"},
      {"plain text", "plain text"},
  };
  plat::setLogOverride("FooBar:cap:0");
  for (const Case& c : cases) {
    fooBar.error("%s", c.text);
    EXPECT_THAT(capDest.take(), ElementsAre(std::string("0 FooBar: ") + c.logged)) << c.text;
  }

  // Long texts are cut at 4095 bytes, never inside a character.
  std::string longText(4094, 'x');
  fooBar.error("%s\xc3\xa9tail", longText.c_str());
  EXPECT_THAT(capDest.take(), ElementsAre("0 FooBar: " + longText));

  fooBar.writeLines(0, "one\n\ntwo\n");
  EXPECT_THAT(capDest.take(), ElementsAre("0 FooBar: one", "0 FooBar: two"));
}

namespace {

// A printf conversion that counts how often it is formatted.
int formatCount = 0;

int printCounted(FILE* stream, const printf_info*, const void* const*)
{
  formatCount++;
  return fprintf(stream, "#");
}

int countedArgInfo(const printf_info*, size_t n, int* argtypes, int* size)
{
  if (n > 0) {
    argtypes[0] = PA_INT;
    *size = sizeof(int);
  }
  return 1;
}

} // namespace

TEST_F(LogTest, DisabledMessagesAreNotFormatted)
{
  ASSERT_EQ(0, register_printf_specifier('W', printCounted, countedArgInfo));
  // Not a literal, so that the compiler does not check the custom conversion.
  const char* fmt = "%W";
  plat::setLogOverride("FooBar:cap:30");

  // Before the release, everything is formatted for the memory log.
  formatCount = 0;
  fooBar.info(fmt, 1);
  EXPECT_EQ(1, formatCount);

  plat::flushMemLog();
  formatCount = 0;
  fooBar.info(fmt, 1);
  fooBar.debug(fmt, 1);
  fooBar.log(31, fmt, 1);
  fooBaz.error(fmt, 1);
  EXPECT_EQ(0, formatCount);
  fooBar.status(fmt, 1);
  EXPECT_EQ(1, formatCount);
  EXPECT_THAT(capDest.take(), ElementsAre("30 FooBar: #"));
}

TEST_F(LogTest, SourcesAndDestinationsMadeLater)
{
  plat::setLogOverride("Late*:cap:30");
  {
    plat::LogSrc late("LateSource");
    EXPECT_EQ(30, late.getLevel());
    late.status("routed at once");
    EXPECT_THAT(capDest.take(), ElementsAre("30 LateSource: routed at once"));
  }
  {
    CaptureDest temp("temp");
    plat::setLogOverride("FooBar:temp:0,FooBar:cap:10");
    EXPECT_EQ(plat::LogDest::find("TEMP"), &temp);
  }
  // The destroyed destination is no longer in the registry or the routing.
  EXPECT_EQ(nullptr, plat::LogDest::find("temp"));
  fooBar.error("after");
  EXPECT_THAT(capDest.take(), ElementsAre("0 FooBar: after"));
  EXPECT_EQ(10, fooBar.getLevel());
}

TEST_F(LogTest, NameLists)
{
  // Sources made here are at the head of the list, in reverse order.
  plat::LogSrc c("Charlie"), b("Bravo"), a("Al");
  std::string out = captureStderr([] { plat::printLogSourceNames(14, stderr); });
  // Width 14: "  Al" leaves 8, "Bravo" fits (5 < 8) and leaves 1, so
  // "Charlie" wraps.
  EXPECT_EQ(0u, out.find("  Al, Bravo,\n  Charlie,")) << out;
  EXPECT_EQ('\n', out.back());
  EXPECT_NE(std::string::npos, out.find("FooBar")) << out;

  out = captureStderr([] { plat::printLogDestNames(stderr); });
  EXPECT_NE(std::string::npos, out.find("  cap\n  file\n  stderr\n")) << out;
}

namespace {

// Another unit's static initialiser using a source before the source's own
// constructor has run: within one file, objects are built in order.
struct EarlyUser {
  EarlyUser();
} earlyUser;

plat::LogSrc lateStatic("LateStatic");

std::vector<std::string> earlyLines;
struct EarlyCheck {
  EarlyCheck()
  {
    CaptureDest all(nullptr);
    plat::LogDestMem::get()->replay(&all, INT_MAX);
    for (const std::string& line : all.take())
      if (line.find("early") != std::string::npos)
        earlyLines.push_back(line);
  }
} earlyCheck;

EarlyUser::EarlyUser()
{
  lateStatic.status("early %d", 1);
}

} // namespace

TEST(LogEarly, SourceUsedBeforeItsConstructorKeepsItsMessages)
{
  EXPECT_THAT(earlyLines, ElementsAre("30 LateStatic: early 1"));
}
