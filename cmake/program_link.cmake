# How the program a user downloads is linked. With TL_STATIC_DEPS, mbedtls,
# libpng and zlib come from their static archives (Debian ships them in the
# -dev packages) and libstdc++ and libgcc are linked in, so that the program
# needs only the C library and the desktop's X client libraries on any
# distribution. Included before the libraries are found.

if(TL_STATIC_DEPS)
  if(TL_SANITIZE OR TL_TSAN OR TL_LIBFUZZER)
    message(FATAL_ERROR "TL_STATIC_DEPS is for builds without sanitizers, whose runtimes are shared")
  endif()
  # The cache entries the finders of tlcore and libpng read; forced, so that
  # a build folder configured without the option changes over.
  foreach(entry MBEDTLS_LIB=mbedtls MBEDX509_LIB=mbedx509 MBEDCRYPTO_LIB=mbedcrypto
                ZLIB_LIBRARY_RELEASE=z PNG_LIBRARY_RELEASE=png16)
    string(REPLACE "=" ";" entry ${entry})
    list(GET entry 0 var)
    list(GET entry 1 lib)
    find_library(TL_STATIC_${lib} NAMES lib${lib}.a REQUIRED)
    set(${var} ${TL_STATIC_${lib}} CACHE FILEPATH "Static ${lib}" FORCE)
  endforeach()
endif()

# tl_program_link(<target>)
# Links the program as TL_STATIC_DEPS and TL_STRIP_PROGRAM ask, and (in a
# test build) checks with ldd which shared libraries it still needs.
function(tl_program_link target)
  if(TL_STATIC_DEPS)
    # The archives' symbols stay out of the dynamic symbol table that
    # -rdynamic fills: a library loaded later (libproxy with its own
    # libstdc++) must not bind to the program's copies.
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc
      "LINKER:--exclude-libs,libstdc++.a:libgcc.a:libgcc_eh.a:libmbedtls.a:libmbedx509.a:libmbedcrypto.a:libpng16.a:libz.a")
    if(TL_BUILD_TESTS AND NOT TL_LIBFUZZER)
      add_test(NAME program_libs
               COMMAND bash ${CMAKE_SOURCE_DIR}/tests/program_libs_test.sh $<TARGET_FILE:${target}>)
      set_tests_properties(program_libs PROPERTIES LABELS layout TIMEOUT 60)
    endif()
  endif()
  if(TL_STRIP_PROGRAM)
    target_link_options(${target} PRIVATE -s)
  endif()
endfunction()
