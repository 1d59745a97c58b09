#include "rfb/Rect.h"

#include <stdio.h>

namespace rfb {

const char* Rect::print(char (&buf)[kPrintSize]) const
{
  snprintf(buf, sizeof(buf), "%d,%d to %d,%d", topLeft.x, topLeft.y, bottomRight.x, bottomRight.y);
  return buf;
}

} // namespace rfb
