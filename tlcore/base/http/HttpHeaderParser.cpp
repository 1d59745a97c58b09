#include "http/HttpHeaderParser.h"

#include <string.h>

#include <string>

#include "rdr/Exception.h"
#include "rdr/InStream.h"

namespace http {

HttpParseException::HttpParseException(const char* message) : plat::Exception(message)
{
  setType("HttpParse");
}

HttpHeaderParser::~HttpHeaderParser() = default;

void HttpHeaderParser::parse()
{
  PLAT_CHECK(in_);
  if (linesRead_ == 0) {
    readLine();
    char empty[1] = {0};
    if (!parseFirstLine(line_.hasBuf() ? line_.data() : empty))
      throw HttpParseException("Bad first line");
    in_->setCheckpoint();
    linesRead_ = 1;
  }
  for (;;) {
    if (linesRead_ >= kMaxLinesRead + 1)
      throw HttpParseException("Too many headers");
    readLine();
    if (line_.length() == 0) {
      in_->setCheckpoint();
      return;
    }
    parseHeaderLine(line_.data());
    in_->setCheckpoint();
    ++linesRead_;
    if (linesRead_ >= kMaxLinesRead + 1)
      throw HttpParseException("Too many headers");
  }
}

// Bytes up to LF with every CR dropped. The bound counts the dropped CRs
// too (all but one before the LF), so a peer cannot make the stream hold an
// ever longer line by sending CRs alone.
void HttpHeaderParser::readLine()
{
  line_.clear();
  std::string text;
  int raw = 0;
  for (;;) {
    if (in_->nUnread() == 0) {
      try {
        in_->check(true, 1);
      } catch (rdr::EndOfStream&) {
        if (text.empty())
          throw;
        break;
      } catch (rdr::EndOfMsg&) {
        if (text.empty())
          throw;
        break;
      }
    }
    const uint8_t* p = in_->getPtr();
    const uint8_t* end = in_->getEnd();
    const uint8_t* run = p;
    while (p < end && *p != '\n') {
      uint8_t c = *p++;
      ++raw;
      if (c == 0)
        throw HttpParseException("Line has embedded nul");
      if (raw - (c == '\r' ? 1 : 0) > kMaxLineLength)
        throw HttpParseException("Line exceeds maximum length");
      if (c == '\r') {
        text.append((const char*)run, p - 1 - run);
        run = p;
      }
    }
    text.append((const char*)run, p - run);
    if (p < end) {
      in_->setPtr(p + 1);
      break;
    }
    in_->setPtr(p);
  }
  line_.append(text.data(), (int)text.size());
  line_.makeValidUtf8();
}

void HttpHeaderParser::parseHeaderLine(char* line)
{
  if (line[0] == ' ' || line[0] == '\t')
    throw HttpParseException("Unsupported 'obs-fold' header");
  char* colon = strchr(line, ':');
  if (!colon)
    throw HttpParseException("No colon in header");
  plat::String name(line, (int)(colon - line));
  const char* value = colon + 1;
  while (*value == ' ' || *value == '\t')
    ++value;
  auto it = headers_.find(name);
  if (it != headers_.end() && !it->second.isNull())
    it->second = plat::format("%s,%s", value, it->second.get());
  else
    headers_[std::move(name)] = plat::String(value);
}

const char* HttpHeaderParser::getHeader(const char* name) const
{
  if (!name)
    return nullptr;
  auto it = headers_.find(plat::String(name));
  return it == headers_.end() ? nullptr : it->second.get();
}

void HttpHeaderParser::setHeader(const char* name, const char* value)
{
  headers_[plat::String(name)] = plat::String(value);
}

namespace {

bool isBlank(char c)
{
  return c == ' ' || c == '\t';
}

// Whether c ends a token: a separator of RFC 7230 or a control character.
bool isDelimiter(unsigned char c)
{
  return (c >= 0x01 && c <= 0x1f) || c == 0x7f || strchr("()<>@,;:\\\"/[]?={} ", c);
}

} // namespace

char* HttpHeaderParser::nextToken(char** cursor)
{
  if (!cursor || !*cursor)
    return nullptr;
  char* p = *cursor;
  for (;;) {
    if (p[0] == '\r' && p[1] == '\n') {
      if (!isBlank(p[2]))
        throw HttpParseException("parse error: SP|HT must follow CRLF in LWS");
      p += 2;
    }
    if (isBlank(*p) || *p == ',')
      ++p;
    else
      break;
  }
  if (!*p) {
    *cursor = nullptr;
    return nullptr;
  }
  char* token = p;
  while (*p && !isDelimiter((unsigned char)*p))
    ++p;
  if (!*p) {
    *cursor = nullptr;
    return token;
  }
  char delim = *p;
  *p = 0;
  *cursor = p + 1;
  if (isBlank(delim) || delim == ',')
    return token;
  if (delim == '\r') {
    if (p[1] != '\n' || !isBlank(p[2]))
      throw HttpParseException("CR in field must introduce LWS");
    // The fold is skipped like blanks.
    *cursor = p + 2;
    return token;
  }
  throw HttpParseException("sep/CTRL in token");
}

// --- Responses -----------------------------------------------------------------

HttpResponseHeaderParser::HttpResponseHeaderParser()
{
  version_[0] = 0;
}

HttpResponseHeaderParser::~HttpResponseHeaderParser() = default;

bool HttpResponseHeaderParser::parseFirstLine(char* line)
{
  char* sp1 = strchr(line, ' ');
  if (!sp1 || sp1 == line)
    return false;
  const char* code = sp1 + 1;
  const char* sp2 = strchr(code, ' ');
  if (!sp2 || sp2 - code != 3)
    return false;
  int status = 0;
  for (const char* c = code; c < sp2; ++c) {
    if (*c < '0' || *c > '9')
      return false;
    status = status * 10 + (*c - '0');
  }
  if (status < 100)
    return false;
  version_[0] = 0;
  plat::strCat(version_, sizeof(version_), line, (int)(sp1 - line));
  status_ = status;
  return true;
}

// --- Requests ------------------------------------------------------------------

HttpRequestHeaderParser::HttpRequestHeaderParser()
{
  method_[0] = target_[0] = version_[0] = 0;
}

HttpRequestHeaderParser::~HttpRequestHeaderParser() = default;

bool HttpRequestHeaderParser::parseFirstLine(char* line)
{
  char* sp1 = strchr(line, ' ');
  if (!sp1)
    return false;
  char* sp2 = strchr(sp1 + 1, ' ');
  if (!sp2)
    return false;
  method_[0] = target_[0] = version_[0] = 0;
  plat::strCat(method_, sizeof(method_), line, (int)(sp1 - line));
  plat::strCat(target_, sizeof(target_), sp1 + 1, (int)(sp2 - sp1 - 1));
  plat::strCat(version_, sizeof(version_), sp2 + 1);
  return true;
}

} // namespace http
