// Reading the head of an HTTP/1.1 message (first line and header fields)
// from a stream that delivers data piecemeal.
//
// parse() may be called again whenever more data has arrived: the stream's
// checkpoint is set after every whole line, so a line cut by the end of the
// available data is read again from its start and a line already taken is
// never read twice. A further call after a complete head reads more header
// lines up to the next empty line (the trailer of a chunked body).
// Hostile input is bounded: 8,192 bytes a line and 499 header lines a head.
// The stream is borrowed and set before each call. Not locked: one thread.
#pragma once

#include <map>

#include "plat/Configuration.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/String.h"

#include "rdr/Forward.h"

namespace http {

// Every parse error; type "HttpParse". The users treat it as fatal for the
// message.
class HttpParseException : public plat::Exception {
public:
  explicit HttpParseException(const char* message);
};

class HttpHeaderParser {
public:
  static constexpr int kMaxLineLength = 8192;
  // linesRead counts the first line too: the 500th header line is refused.
  static constexpr int kMaxLinesRead = 500;

  // Ordered by name without regard to case (the case-insensitive string
  // map of the configuration code).
  using HeaderMap = std::map<plat::String, plat::String, plat::StringCaseLess>;

  virtual ~HttpHeaderParser();
  HttpHeaderParser(const HttpHeaderParser&) = delete;
  HttpHeaderParser& operator=(const HttpHeaderParser&) = delete;

  // --- Reading
  void setInStream(rdr::InStream* in) { in_ = in; }
  // Returns once the empty line has been read; lets the stream's
  // BlockException (and an EndOfStream before a line) pass. Throws
  // HttpParseException on malformed input, keeping what it has stored.
  void parse();

  // --- Results
  // The value held for name (any case), or null. Repeated fields are held
  // as one value, the later one first: "%s,%s".
  const char* getHeader(const char* name) const;
  const HeaderMap& getHeaders() const { return headers_; }
  // Replaces the value held for name (any case, keeping the name as first
  // stored) or adds it.
  void setHeader(const char* name, const char* value);
  // 0 until the first line has been taken, then 1 plus the header lines.
  int getLinesRead() const { return linesRead_; }

  // The next token of a comma-separated value, cut in place (pass a copy
  // of the value); null when the value is exhausted. Separators and
  // control characters inside a token throw HttpParseException.
  static char* nextToken(char** cursor);

protected:
  HttpHeaderParser() = default;
  // False refuses the line ("Bad first line"). The line may be changed.
  virtual bool parseFirstLine(char* line) = 0;

private:
  void readLine();
  void parseHeaderLine(char* line);

  rdr::InStream* in_ = nullptr;
  plat::DString line_;
  int linesRead_ = 0;
  HeaderMap headers_;
};

class HttpResponseHeaderParser : public HttpHeaderParser {
public:
  HttpResponseHeaderParser();
  ~HttpResponseHeaderParser() override;

  // -1 until the status line has been read.
  int getStatus() const { return status_; }
  const char* getVersion() const { return version_; }

protected:
  // "<version> <status> [reason]": runs of spaces are not merged, and a
  // space must follow the three-digit status.
  bool parseFirstLine(char* line) override;

private:
  char version_[10];
  int status_ = -1;
};

class HttpRequestHeaderParser : public HttpHeaderParser {
public:
  HttpRequestHeaderParser();
  ~HttpRequestHeaderParser() override;

  const char* getMethod() const { return method_; }
  const char* getTarget() const { return target_; }
  const char* getVersion() const { return version_; }

protected:
  // "<method> <target> <version>"; the version is the whole rest.
  bool parseFirstLine(char* line) override;

private:
  char method_[16];
  char target_[512];
  char version_[10];
};

} // namespace http
