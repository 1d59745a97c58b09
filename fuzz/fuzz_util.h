// Helpers shared by the fuzz targets.
#pragma once

#include <stdio.h>
#include <stdlib.h>

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
