// The exceptions of the stream layer. Every one derives from plat::Exception
// and carries a fixed type tag, so handlers can tell them apart by class or
// by tag; ZlibEndOfStream is also an EndOfStream.
#pragma once

#include "plat/Exception.h"

namespace rdr {

// Input exhausted and no more can come; the message names the stream kind.
class EndOfStream : public plat::Exception {
public:
  explicit EndOfStream(const char* message = "End of stream");
};

class ZlibEndOfStream : public EndOfStream {
public:
  ZlibEndOfStream();
};

// Read past the last byte of a framed message.
class EndOfMsg : public plat::Exception {
public:
  EndOfMsg();
};

// A waiting read found no data; the stream is back at its checkpoint when
// it is rewindable. Carries no type tag.
class BlockException : public plat::Exception {
public:
  BlockException();
};

class FrameException : public plat::Exception {
public:
  explicit FrameException(const char* message);
};

class StringTooLongException : public plat::Exception {
public:
  StringTooLongException();
};

// Writing after the write side was closed.
class PipeException : public plat::Exception {
public:
  explicit PipeException(const char* message = "Stream closed for writing");
};

// An output stream at its size limit.
class OutStreamFull : public plat::Exception {
public:
  explicit OutStreamFull(const char* message = "OutStream full");
};

} // namespace rdr
