// Collects output in one growable buffer, for building messages, texts and
// files before they are sent or stored.
//
// The stream owns its array-new buffer until one of the release calls hands
// it over. The buffer at least doubles when it grows, and never beyond the
// optional cap (maxLen), past which writes throw OutStreamFull "OutStream
// full". A secure stream (keys, passwords, credential records) wipes every
// buffer it gives up. Not locked: one thread at a time.
#pragma once

#include "plat/DString.h"
#include "plat/MBuf.h"
#include "rdr/OutStream.h"

namespace rdr {

class MemOutStream : public OutStream {
public:
  // initialSize < 0 means 256; maxLen 0 means no cap.
  explicit MemOutStream(int initialSize = -1, int maxLen = 0);
  ~MemOutStream() override;
  MemOutStream(const MemOutStream&) = delete;
  MemOutStream& operator=(const MemOutStream&) = delete;

  // --- OutStream -----------------------------------------------------------
  void writeBytes(const void* data, int len) override;
  int64_t length() override { return ptr_ - start_; }
  int spaceAvailable() override;
  int overrun(int itemSize, int nItems) override;

  // --- The data ------------------------------------------------------------
  const uint8_t* data() const { return start_; }
  int capacity() const { return capacity_; }
  // Forgets what was written; the buffer stays.
  void clear() { ptr_ = start_; }
  // Sets the cap (0 = none); the window follows.
  void setMaxLen(int maxLen);
  int getMaxLen() const { return maxLen_; }
  void setSecure(bool secure) { secure_ = secure; }

  // Appends a zero byte unless the data already ends with one; the cap is
  // raised by one for it, so a full stream can still be terminated.
  void nulTerminate();

  // --- Handing the buffer over (the stream is left without one) ----------
  // The caller frees it with delete[].
  uint8_t* releaseData();
  // The buffer and its length move into the MBuf (secure when the stream is).
  void releaseInto(plat::MBuf<unsigned char>& out);
  // nulTerminate, then the buffer becomes the DString's.
  void releaseString(plat::DString& out);

private:
  void setEnd();
  void freeBuffer();

  uint8_t* start_ = nullptr;
  int capacity_ = 0;
  int maxLen_ = 0;
  bool secure_ = false;
};

} // namespace rdr
