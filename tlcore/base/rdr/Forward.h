// Forward declarations of the stream classes, for headers that only pass
// streams by reference or pointer.
#pragma once

namespace rdr {

class InStream;
class OutStream;
class BufferedInStream;
class BufferedOutStream;
class FdInStream;
class FdOutStream;
class FileInStream;
class FileOutStream;
class MemInStream;
class MemOutStream;
class TextWriter;
class ZlibInStream;

} // namespace rdr
