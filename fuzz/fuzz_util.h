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
