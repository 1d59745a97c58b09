# Writes a C++ unit that registers one file as a built-in resource.
# Run by tl_embed_resources: cmake -DIN=<file> -DOUT=<unit.cpp> -DNAME=<name> -P embed_resource.cmake
if(NOT DEFINED IN OR NOT DEFINED OUT OR NOT DEFINED NAME)
  message(FATAL_ERROR "embed_resource.cmake needs IN, OUT and NAME")
endif()

file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")

# Sixteen bytes a line keeps the unit readable in a debugger.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n  " bytes "${bytes}")
if(size EQUAL 0)
  # A C++ array cannot be empty; the registered size stays 0.
  set(bytes "0")
endif()

string(REPLACE "\\" "\\\\" cname "${NAME}")
string(REPLACE "\"" "\\\"" cname "${cname}")

file(WRITE "${OUT}" "// Generated from ${IN}; do not edit.
#include \"plat/Resource.h\"

namespace {

alignas(16) const unsigned char data[] = {
  ${bytes}
};

const plat::BuiltInResourceRegistration registration(\"${cname}\", ${size}u, data);

} // namespace
")
