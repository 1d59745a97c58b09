#include "rdr/Exception.h"

namespace rdr {

EndOfStream::EndOfStream(const char* message)
{
  setMessage(message);
  setType("EndOfStream");
}

ZlibEndOfStream::ZlibEndOfStream() : EndOfStream("End of zlib stream")
{
  setType("ZlibEndOfStream");
}

EndOfMsg::EndOfMsg()
{
  setMessage("End of message");
  setType("EndOfMsg");
}

BlockException::BlockException()
{
  setMessage("Reading from InStream would block");
}

FrameException::FrameException(const char* message)
{
  setMessage(message);
  setType("FrameException");
}

StringTooLongException::StringTooLongException()
{
  setMessage("String exceeds maximum length");
  setType("StringTooLongException");
}

PipeException::PipeException(const char* message)
{
  setMessage(message);
  setType("PipeException");
}

OutStreamFull::OutStreamFull(const char* message)
{
  setMessage(message);
  setType("OutStreamFull");
}

} // namespace rdr
