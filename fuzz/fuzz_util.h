// Helpers shared by the fuzz targets.
#pragma once

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

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
// the files left in it when the process ends normally (make it a static).
class FuzzTempDir {
public:
  explicit FuzzTempDir(const char* name)
  {
    const char* tmp = getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-" + name + "-XXXXXX";
    FUZZ_CHECK(mkdtemp(&path[0]));
  }
  ~FuzzTempDir()
  {
    if (DIR* d = opendir(path.c_str())) {
      while (const dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
          unlinkat(dirfd(d), e->d_name, 0);
      }
      closedir(d);
    }
    rmdir(path.c_str());
  }
  FuzzTempDir(const FuzzTempDir&) = delete;
  FuzzTempDir& operator=(const FuzzTempDir&) = delete;

  std::string path;
};
