# Helpers for tests, fuzz targets and benchmarks.

if(TL_BUILD_TESTS AND NOT TL_LIBFUZZER)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# Folder holding reference scripts and fixtures shared by the tests.
set(TL_TEST_SUPPORT_DIR ${CMAKE_SOURCE_DIR}/tests/support)

# tl_test(<name> LABEL <label> SOURCES <files...> [LIBS <libs...>])
# One gtest executable; each test case is a ctest test labelled with the
# folder it tests.
function(tl_test name)
  if(NOT TL_BUILD_TESTS OR TL_LIBFUZZER)
    return()
  endif()
  cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tlcore_whole GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    TL_TEST_SUPPORT_DIR="${TL_TEST_SUPPORT_DIR}"
    TL_TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${T_LABEL} TIMEOUT 300)
endfunction()

# tl_fuzz(<name> SOURCES <files...> [LIBS <libs...>])
# A libFuzzer entry point, built as fuzz_<name>. Outside the libFuzzer build it is linked with a
# main() that runs every file named on the command line, and ctest replays
# the committed seed corpus fuzz/corpus/<name>.
function(tl_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  set(t fuzz_${name})
  add_executable(${t} ${F_SOURCES})
  target_link_libraries(${t} PRIVATE ${F_LIBS} tlcore_whole)
  if(TL_LIBFUZZER)
    target_link_options(${t} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${t} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
    add_test(NAME fuzz_${name}
             COMMAND ${t} ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(fuzz_${name} PROPERTIES LABELS fuzz TIMEOUT 600)
  endif()
endfunction()

# tl_bench(<name> SOURCES <files...> [LIBS <libs...>])
function(tl_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} tlcore_whole benchmark::benchmark)
endfunction()
