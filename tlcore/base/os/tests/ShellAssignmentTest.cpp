#include "os/shellAssignment.h"

#include <string.h>

#include <gtest/gtest.h>

#include "plat/DString.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"

TEST(ShellAssignment, LinesFromAStream)
{
  const char text[] = "A=1\r\nno assignment\nB='x y'\nC=\"open\n\nD=\"last\"";
  struct Line {
    const char* key;
    const char* value; // null: no value
  } lines[] = {
      {"A", "1"}, {"no assignment", nullptr}, {"B", "x y"}, {"C", nullptr}, {"", nullptr},
      {"D", "last"}, // the end of the input ends the last line
  };
  rdr::MemInStream in(text, (int)strlen(text));
  plat::DString line;
  for (const Line& l : lines) {
    SCOPED_TRACE(l.key);
    const char* value = os::parseShellAssignment(in, line);
    EXPECT_STREQ(l.key, line.get());
    if (l.value)
      EXPECT_STREQ(l.value, value);
    else
      EXPECT_EQ(nullptr, value);
  }
  EXPECT_THROW(os::parseShellAssignment(in, line), rdr::EndOfStream);
}
