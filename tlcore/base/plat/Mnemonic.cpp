#include "plat/Mnemonic.h"

#include <string.h>

#include "plat/utf8.h"

namespace plat {

int parseMnemonic(char* label, char** pos)
{
  char* marked = nullptr;
  char* out = label;
  const char* in = label;
  while (*in) {
    if (*in != '&') {
      *out++ = *in++;
      continue;
    }
    if (in[1] == '&') {
      *out++ = '&';
      in += 2;
    } else if (in[1] == 0) {
      break;
    } else {
      in++;
      if (!marked)
        marked = out;
    }
  }
  *out = 0;
  if (pos)
    *pos = marked;
  if (!marked)
    return 0;
  unsigned char lead = (unsigned char)*marked;
  if (lead < 0x80)
    return lead;
  const char* p = marked + 1;
  return utf8DecodeRest(lead, &p, (int)strlen(marked));
}

} // namespace plat
