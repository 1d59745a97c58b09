// The log destinations that write lines of text: "file" (a log file with
// rotation and retention, following `LogDir` and `LogFile`) and "stderr"
// (the same lines on standard error, coloured on a colour terminal).
//
// Each destination serialises line writing, opening and path changes on its
// own recursive mutex, so any thread may log and lines never interleave.
// Errors opening or closing the file never reach the code that logs: they
// are printed on standard error. The two process-wide destinations are made
// once by initStderrLogDest and initFileLogDest and live until exit;
// parameters are changed on the main thread.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "plat/DString.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/Mutex.h"
#include "plat/String.h"

namespace plat {

class LogDestFile : public LogDest {
public:
  // Told, under the destination's mutex, when the size limit closed the
  // file. Borrowed.
  class SizeListener {
  public:
    virtual ~SizeListener() = default;
    virtual void logSizeLimitReached(LogDestFile* dest) = 0;
  };

  // A null name makes an unregistered destination. stream (borrowed, may be
  // null) is written to until a path is set; it gets colours when it is a
  // colour terminal.
  LogDestFile(const char* name, const char* identity, FILE* stream);
  ~LogDestFile() override;

  void write(int level, const char* srcName, const char* text) override;
  // A path is set or a stream is open.
  bool enabled() override;

  // Closes the current file; the new one (null: none) is opened, rotated
  // first, by the next write.
  void setPath(const char* path);
  String getPath();
  // 0 means no limit; clears a stop caused by the limit.
  void setMaxSize(int64_t bytes);
  void setSizeListener(SizeListener* listener);
  // Reopens the path when the open file is no longer the one it names (it
  // was moved or removed by someone else).
  void reopenIfMoved();

private:
  // Both under the mutex.
  void writeLine(int level, const char* srcName, const char* text);
  bool openFile();
  // Throws plat::Exception when the file cannot be opened, or when its
  // folder (or the way there) can be changed by another user, or when it is
  // not a regular file of this user. A new file is made 0600.
  void openAt(const char* path, bool rotateFirst);
  void closeFile();

  String identity_;
  String host_;
  Mutex mutex_;
  String path_;
  // The file open now: path_, or the default after a fallback.
  String openPath_;
  DString timeText_;
  FilePtr stream_;
  bool stopped_ = false;
  int64_t maxSize_ = 0;
  SizeListener* sizeListener_ = nullptr;
  bool headerWritten_ = false;
  bool colour_ = false;
};

// The "stderr" destination on the process's standard error, once.
void initStderrLogDest(const char* identity);
// The "file" destination and its watch on `LogDir` and `LogFile`, once;
// with open, file logging is turned on at once.
void initFileLogDest(const char* identity, bool open);
// On: the file is `LogDir` joined with `LogFile` (environment variables
// expanded strictly, which may throw). Off: the file is closed.
void setFileLogEnabled(bool on);
// Null until initFileLogDest.
LogDestFile* getFileLogDest();
// Written, wrapped at 79 columns, at the top of each file a destination
// starts writing. Null for none.
void setLogFileHeader(const char* text);
// Each opening of the "file" destination's file also makes it standard
// error (descriptor 2).
void setLogRedirectsStderr(bool on);

} // namespace plat
