// Writers on several threads while the routing changes under them: run
// under AddressSanitizer by the test build, and by hand under
// ThreadSanitizer.
#include "plat/Log.h"

#include <stdio.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Checks every line it gets, under its own lock as a real destination does.
class LockedDest : public plat::LogDest {
public:
  LockedDest() : LogDest("locked") {}
  void write(int level, const char* src, const char* text) override
  {
    std::lock_guard<std::mutex> lock(mutex_);
    int t = -1, n = -1;
    char tail[8] = "";
    bool ok = strncmp(src, "Stress", 6) == 0 || strcmp(src, "LogDestMem") == 0;
    if (strcmp(src, "LogDestMem") != 0)
      ok = ok && level >= 0 && sscanf(text, "w%d-%d%7s", &t, &n, tail) >= 2 && t >= 0 && n >= 0 &&
           (!tail[0] || strcmp(tail, "~^Ix") == 0);
    if (!ok)
      bad_++;
    count_++;
  }
  long count()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }
  long bad()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return bad_;
  }

private:
  std::mutex mutex_;
  long count_ = 0;
  long bad_ = 0;
};

LockedDest lockedDest;
plat::LogSrc stressA("StressA");
plat::LogSrc stressB("StressB");
plat::LogSrc stressC("StressC");

} // namespace

TEST(LogStress, RoutingChangesWhileThreadsLog)
{
  plat::resetMemLogForTests();
  const char* texts[] = {
      "Stress*:locked:100",
      "StressA:locked:30,StressB:locked:110",
      "",
      "*:locked:0",
      "StressC:locked:200,Stress*:locked:5",
      "stressb:LOCKED:100,StressA:locked:0,StressA:locked:110",
  };
  const int kTexts = sizeof(texts) / sizeof(texts[0]);
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; t++) {
    writers.emplace_back([t, &stop] {
      plat::LogSrc* srcs[] = {&stressA, &stressB, &stressC};
      for (int i = 0; !stop.load(); i++) {
        plat::LogSrc& s = *srcs[(t + i) % 3];
        s.info("w%d-%d", t, i);
        s.status("w%d-%d\tx", t, i);
        s.debug("w%d-%d", t, i);
        s.writeLines(plat::LogSrc::kError, "w0-1\nw0-2");
      }
    });
  }

  // A source made and dropped while routing changes.
  std::thread maker([&stop] {
    while (!stop.load()) {
      plat::LogSrc temp("StressTemp");
      temp.status("w9-9");
    }
  });

  const int kApplies = 3000;
  for (int i = 0; i < kApplies; i++) {
    if (i == kApplies / 2)
      plat::flushMemLog();
    plat::setLogOverride(texts[i % kTexts]);
  }
  stop = true;
  for (std::thread& w : writers)
    w.join();
  maker.join();

  EXPECT_EQ(0, lockedDest.bad());
  EXPECT_GT(lockedDest.count(), 0);

  // The final routing holds exactly: one line per accepted message.
  plat::setLogOverride("StressA:locked:30");
  long before = lockedDest.count();
  stressA.status("w0-0");
  stressA.info("w0-0");
  stressB.error("w0-0");
  EXPECT_EQ(before + 1, lockedDest.count());

  plat::setLogOverride(nullptr);
  plat::resetMemLogForTests();
}
