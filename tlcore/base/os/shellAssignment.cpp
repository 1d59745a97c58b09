#include "os/shellAssignment.h"

#include <string.h>

#include "plat/DString.h"
#include "rdr/InStream.h"

namespace os {

char* parseShellAssignment(char* line)
{
  char* eq = strchr(line, '=');
  if (!eq)
    return nullptr;
  *eq = 0;
  char* value = eq + 1;
  char quote = value[0];
  if (quote != '"' && quote != '\'')
    return value;
  size_t len = strlen(value);
  if (len < 2 || value[len - 1] != quote)
    return nullptr;
  value[len - 1] = 0;
  value++;
  if (quote == '\'')
    return value;
  char* out = value;
  for (const char* in = value; *in; in++) {
    if (*in == '\\' && in[1] && strchr("\"$'\\`", in[1])) {
      in++;
    } else if (*in == '\\' && !in[1]) {
      // The backslash escapes what looked like the closing quote.
      return nullptr;
    }
    *out++ = *in;
  }
  *out = 0;
  return value;
}

char* parseShellAssignment(rdr::InStream& in, plat::DString& line)
{
  in.readLine(line);
  return line.data() ? parseShellAssignment(line.data()) : nullptr;
}

} // namespace os
