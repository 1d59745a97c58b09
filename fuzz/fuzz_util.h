// Helpers shared by the fuzz targets.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

// Aborts with the failed condition, so that the fuzzer keeps the input;
// unlike assert it stays in release builds.
#define FUZZ_CHECK(cond)                                                                           \
  do {                                                                                             \
    if (!(cond)) {                                                                                 \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                     \
      abort();                                                                                     \
    }                                                                                              \
  } while (0)

#include "plat/Log.h"

// Ends the log's start-up phase once, so that messages no destination takes
// are dropped rather than formatted and kept.
inline void fuzzQuietLogs()
{
  static bool done = (plat::setLogOverride(""), plat::flushMemLog(), true);
  (void)done;
}

// A private folder in $TMPDIR (else /tmp) for the whole run, removed with
// what is in it when the process ends normally (make it a static).
struct FuzzTempDir {
  explicit FuzzTempDir(const char* name)
      : path(std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/fuzz-" + name + "-XXXXXX")
  {
    FUZZ_CHECK(mkdtemp(&path[0]));
  }
  ~FuzzTempDir() { std::filesystem::remove_all(path); }
  std::string path;
};
