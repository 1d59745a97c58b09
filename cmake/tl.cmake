# Helpers for tests, fuzz targets and benchmarks.

if(TL_BUILD_TESTS AND NOT TL_LIBFUZZER)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# Folder holding reference scripts and fixtures shared by the tests.
set(TL_TEST_SUPPORT_DIR ${CMAKE_SOURCE_DIR}/tests/support)

# The gtest program behind tl_test and tl_x11_test: built from its sources,
# linked with its libraries, the core and gtest, with tests/support on its
# include path and the support and source folders compiled in.
function(_tl_test_program name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_LIBS} tlcore_whole GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    TL_TEST_SUPPORT_DIR="${TL_TEST_SUPPORT_DIR}"
    TL_TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
  target_include_directories(${name} PRIVATE ${TL_TEST_SUPPORT_DIR})
  # The sanitized builds check the code under test, which keeps its
  # optimisation; the test programs' own sources (gtest's templates,
  # mostly) build about three times faster without it.
  if(TL_SANITIZE OR TL_TSAN)
    target_compile_options(${name} PRIVATE -O0)
  endif()
endfunction()

# tl_test(<name> LABEL <label> SOURCES <files...> [LIBS <libs...>] [LOCK <resource>]
#         [PROPERTIES <ctest properties...>])
# One gtest executable; each test case is a ctest test labelled with the
# folder it tests. With LOCK, its cases hold that ctest resource lock (for
# fixed paths that tests share); PROPERTIES adds others (a fixture, say).
function(tl_test name)
  if(NOT TL_BUILD_TESTS OR TL_LIBFUZZER)
    return()
  endif()
  cmake_parse_arguments(T "" "LABEL;LOCK" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  _tl_test_program(${name} SOURCES ${T_SOURCES} LIBS ${T_LIBS})
  set(lock)
  if(T_LOCK)
    set(lock RESOURCE_LOCK ${T_LOCK})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${T_LABEL} TIMEOUT 300 ${lock} ${T_PROPERTIES})
endfunction()

# tl_x11_test(<name> LABEL <label> SOURCES <files...> [LIBS <libs...>]
#             RUNS <run>=<ENV=value[,ENV=value...]>...)
# One gtest program that needs an X server: all its cases run in one process
# against the one Xvfb it starts (tests/support/xvfb.h), once per run, each
# run its own ctest test <name>_<run> labelled <label> and x11. A run's
# variables choose the server (TL_XVFB_DEPTH, TL_XVFB_SHM, TL_XVFB_TCP).
function(tl_x11_test name)
  if(NOT TL_BUILD_TESTS OR TL_LIBFUZZER)
    return()
  endif()
  cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS;RUNS" ${ARGN})
  _tl_test_program(${name} SOURCES ${T_SOURCES} LIBS ${T_LIBS})
  target_compile_definitions(${name} PRIVATE TL_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
  foreach(run ${T_RUNS})
    string(REPLACE "=" ";" parts "${run}")
    list(POP_FRONT parts suffix)
    string(REPLACE ";" "=" env "${parts}")
    string(REPLACE "," ";" env "${env}")
    add_test(NAME ${name}_${suffix} COMMAND ${name})
    set_tests_properties(${name}_${suffix} PROPERTIES LABELS "${T_LABEL};x11" TIMEOUT 300
                         ENVIRONMENT "${env}")
  endforeach()
endfunction()

# tl_fuzz(<name> SOURCES <files...> [LIBS <libs...>])
# A libFuzzer entry point, built as fuzz_<name>. Outside the libFuzzer build it is linked with a
# main() that runs every file named on the command line. In both builds
# ctest replays the committed seed corpus fuzz/corpus/<name>
# (cmake/fuzz_replay.cmake).
function(tl_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  set(t fuzz_${name})
  add_executable(${t} ${F_SOURCES})
  target_link_libraries(${t} PRIVATE ${F_LIBS} tlcore_whole)
  if(TL_LIBFUZZER)
    target_link_options(${t} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${t} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
  endif()
  add_test(NAME fuzz_${name}
           COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${t}> -DNAME=${name}
                   -DCORPUS=${CMAKE_SOURCE_DIR}/fuzz/corpus/${name}
                   -DTMP=${CMAKE_CURRENT_BINARY_DIR}/replay/${name} -DLIBFUZZER=${TL_LIBFUZZER}
                   -P ${CMAKE_SOURCE_DIR}/cmake/fuzz_replay.cmake)
  set_tests_properties(fuzz_${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()

# tl_bench(<name> SOURCES <files...> [LIBS <libs...>])
function(tl_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${B_SOURCES})
  # A benchmark measures optimised, uninstrumented code in every build.
  target_compile_options(${name} PRIVATE -O2 -fno-sanitize=all)
  target_link_libraries(${name} PRIVATE ${B_LIBS} tlcore_whole benchmark::benchmark)
endfunction()

# tl_embed_resources(<target> FILES <files...>)
# Builds each file into <target> as a built-in resource named after the
# file (plat/Resource.h). Relative paths start at the current source folder;
# a file generated in the build tree is given by its full path and is made
# first. Each file becomes a generated unit that registers itself from a
# static initialiser, so <target> must be linked whole (as tlcore is) or be
# an OBJECT library.
function(tl_embed_resources target)
  cmake_parse_arguments(R "" "" "FILES" ${ARGN})
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/embed_resource.cmake)
  foreach(f ${R_FILES})
    get_filename_component(path ${f} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    get_filename_component(name ${path} NAME)
    string(MAKE_C_IDENTIFIER ${name} id)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/resources/${target}_${id}.cpp)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -DIN=${path} -DOUT=${out} -DNAME=${name} -P ${script}
      DEPENDS ${path} ${script}
      COMMENT "Embedding resource ${name}"
      VERBATIM)
    # The rule is attached to a target of this folder, since <target> may be
    # defined elsewhere; the name also refuses one name embedded twice.
    add_custom_target(${target}_embed_${id} DEPENDS ${out})
    add_dependencies(${target} ${target}_embed_${id})
    target_sources(${target} PRIVATE ${out})
  endforeach()
endfunction()

# Message catalogues ---------------------------------------------------------

find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(TL_CATALOGUE_GEN ${CMAKE_CURRENT_LIST_DIR}/../tools/catalogue_gen.py)
get_filename_component(TL_CATALOGUE_GEN ${TL_CATALOGUE_GEN} ABSOLUTE)

# tl_catalogue(<target> <module>.catalogue [FUNCTION <name>])
# Checks a module's catalogue data and builds it into <target>: a generated
# unit that registers the texts from a static initialiser (so <target> is
# linked whole, as tlcore is), and the header "<module>/LocStrings.h" on
# <target>'s include path, declaring <module>::LocStringsInit (or, with
# FUNCTION, a registration function of that name). Both are made again when
# the data or the generator changes. The target tl_catalogue_check checks all
# data files together, so that a key belongs to one module only.
function(tl_catalogue target file)
  cmake_parse_arguments(C "" "FUNCTION" "" ${ARGN})
  get_filename_component(path ${file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  get_filename_component(module ${path} NAME_WE)
  set(dir ${CMAKE_BINARY_DIR}/catalogues)
  set(src ${dir}/${module}_LocStrings.cpp)
  set(hdr ${dir}/include/${module}/LocStrings.h)
  set(extra)
  if(C_FUNCTION)
    set(extra --function ${C_FUNCTION})
  endif()
  add_custom_command(OUTPUT ${src} ${hdr}
    COMMAND ${Python3_EXECUTABLE} ${TL_CATALOGUE_GEN} generate ${path} ${src} ${hdr} ${extra}
    DEPENDS ${path} ${TL_CATALOGUE_GEN}
    COMMENT "Generating the ${module} message catalogue"
    VERBATIM)
  # As with resources: <target> may be defined in another folder.
  add_custom_target(${module}_catalogue DEPENDS ${src} ${hdr})
  add_dependencies(${target} ${module}_catalogue)
  target_sources(${target} PRIVATE ${src})
  target_include_directories(${target} PUBLIC ${dir}/include)

  set_property(GLOBAL APPEND PROPERTY TL_CATALOGUE_FILES ${path})
  get_property(scheduled GLOBAL PROPERTY TL_CATALOGUE_CHECK_SCHEDULED)
  if(NOT scheduled)
    set_property(GLOBAL PROPERTY TL_CATALOGUE_CHECK_SCHEDULED ON)
    # Runs once every folder has named its catalogues.
    cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _tl_catalogue_check)
  endif()
endfunction()

# The target tl_catalogue_check: every data file checked against the others,
# part of every build.
function(_tl_catalogue_check)
  get_property(files GLOBAL PROPERTY TL_CATALOGUE_FILES)
  set(stamp ${CMAKE_BINARY_DIR}/catalogues/check.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${Python3_EXECUTABLE} ${TL_CATALOGUE_GEN} check ${stamp} ${files}
    DEPENDS ${files} ${TL_CATALOGUE_GEN}
    COMMENT "Checking the message catalogues together"
    VERBATIM)
  add_custom_target(tl_catalogue_check ALL DEPENDS ${stamp})
endfunction()

# Layers -------------------------------------------------------------------

# tl_write_layer_links(<file>)
# Writes the link line and the sources of every library named in
# cmake/layers.txt, for tools/layering.py to check against the layer graph.
# Called once every library is defined.
function(tl_write_layer_links out)
  file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/layers.txt lines REGEX "^library ")
  set(text "")
  foreach(line ${lines})
    string(REPLACE " " ";" words "${line}")
    list(GET words 1 lib)
    get_target_property(links ${lib} LINK_LIBRARIES)
    if(NOT links)
      set(links "")
    endif()
    list(JOIN links " " links)
    string(APPEND text "link ${lib} ${links}\n")
    get_target_property(dir ${lib} SOURCE_DIR)
    get_target_property(sources ${lib} SOURCES)
    foreach(s ${sources})
      if(s MATCHES "^\\$<")
        continue()
      endif()
      get_filename_component(s ${s} ABSOLUTE BASE_DIR ${dir})
      cmake_path(IS_PREFIX CMAKE_SOURCE_DIR ${s} NORMALIZE inside)
      if(inside)
        file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${s})
        string(APPEND text "source ${lib} ${rel}\n")
      endif()
    endforeach()
  endforeach()
  file(WRITE ${out} "${text}")
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${CMAKE_SOURCE_DIR}/cmake/layers.txt)
endfunction()
