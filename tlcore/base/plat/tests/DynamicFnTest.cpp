// Optional functions looked up in a shared library built for the test
// (libtldyntest.so.1 with the link libtldyntest.so, on the run path).
#include "plat/DynamicFn.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Log.h"
#include "testutil.h"

namespace {

const std::string kDir = TL_DYNTEST_DIR;

// Plain library names are searched along LD_LIBRARY_PATH, which the loader
// reads only at start-up (the program's run path does not help: under the
// sanitisers dlopen is called from their runtime). So the test starts itself
// again with the library folder on it.
struct WithLibraryPath {
  WithLibraryPath()
  {
    const char* current = getenv("LD_LIBRARY_PATH");
    if (current && strstr(current, TL_DYNTEST_DIR))
      return;
    std::string value = TL_DYNTEST_DIR;
    if (current && *current)
      value += std::string(":") + current;
    setenv("LD_LIBRARY_PATH", value.c_str(), 1);
    std::ifstream in("/proc/self/cmdline");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<char*> argv;
    for (size_t i = 0; i < all.size(); i += strlen(&all[i]) + 1)
      argv.push_back(&all[i]);
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
  }
} withLibraryPath;

tltest::CaptureDest capture("dyncap");

// Whether the test library is loaded now (asking does not load it).
bool sampleLoaded()
{
  void* h = dlopen((kDir + "/libtldyntest.so.1").c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (h)
    dlclose(h);
  return h != nullptr;
}

TEST(DynamicFn, FoundKeptAndReleased)
{
  ASSERT_FALSE(sampleLoaded());
  {
    plat::DynamicFn fn("tldyntest", "tl_missing,tl_dyntest_answer");
    ASSERT_TRUE(fn);
    EXPECT_NE(nullptr, fn.handle);
    EXPECT_EQ(42, fn.as<int (*)()>()());
    EXPECT_TRUE(sampleLoaded());
  }
  EXPECT_FALSE(sampleLoaded());

  // A library without the symbol is closed again.
  plat::DynamicFn miss("tldyntest", "tl_missing");
  EXPECT_FALSE(miss);
  EXPECT_EQ(nullptr, miss.handle);
  EXPECT_FALSE(sampleLoaded());

  // The use it exists for: a newer libc call.
  plat::DynamicFn accept4Fn("c[6,7]", "accept4");
  EXPECT_TRUE(accept4Fn);

  EXPECT_STREQ("Function px_proxy_factory_new not found in proxy library",
               plat::DynamicFnLoadFailed("px_proxy_factory_new", "proxy").str());
}

// Which files a candidate list tries, in order, read from the debug log.
TEST(DynamicFn, CandidateListSyntax)
{
  struct Case {
    std::string libList;
    bool plain;
    std::vector<std::string> log;
  };
  const std::string so1 = "libtldyntest.so.1";
  const std::string found = "found 'tl_dyntest_answer' in '";
  const Case cases[] = {
      {"tldyntest", false, {found + "libtldyntest.so'"}},
      {"tldyntest[0,1]", false, {" [DynFnOpen(libtldyntest.so.0) failed]", found + so1 + "'"}},
      {"tldyntest[]", false, {}},
      {"tl_nosuch,tldyntest[1]junk",
       false,
       {" [DynFnOpen(libtl_nosuch.so) failed]", found + so1 + "'"}},
      {kDir + "/" + so1 + "[7]", false, {found + kDir + "/" + so1 + "'"}},
      {"tl_nosuch.so.9,tldyntest",
       true,
       {" [DynFnOpen(tl_nosuch.so.9) failed]", " [DynFnOpen(tldyntest) failed]"}},
      {"libtldyntest.so.1", true, {"  [DynFnFind(tl_x) failed]", found + so1 + "'"}},
  };
  plat::setLogOverride("DynamicFn:dyncap:110");
  for (const Case& c : cases) {
    capture.lines.clear();
    plat::DynamicFn fn(c.libList.c_str(), "tl_x,tl_dyntest_answer", c.plain);
    std::vector<std::string> log;
    for (const std::string& line : capture.lines)
      if (line.find("DynFnFind(tl_x)") == std::string::npos || c.plain)
        log.push_back(line);
    EXPECT_EQ(c.log, log) << c.libList;
    EXPECT_EQ(!c.log.empty() && c.log.back().rfind("found", 0) == 0, (bool)fn) << c.libList;
  }
  plat::setLogOverride(nullptr);
}

} // namespace
