# Replays a fuzz target over its seed corpus for ctest (cmake -P):
#   -DPROGRAM=<target> -DCORPUS=<folder> -DNAME=<name> -DTMP=<folder> [-DLIBFUZZER=ON]
# Fails when the target fails, and when a run leaves files behind (in its
# own TMPDIR, or in /tmp under the target's name) or, as a replay program,
# writes anything on stderr: a fuzzer calls the target millions of times.
file(REMOVE_RECURSE ${TMP})
file(MAKE_DIRECTORY ${TMP})
set(pattern /tmp/fuzz[-_]${NAME}[-_]*)
file(GLOB before LIST_DIRECTORIES true ${pattern})
set(ENV{TMPDIR} ${TMP})
if(LIBFUZZER)
  # Files, not the folder: libFuzzer runs each once and adds nothing to it.
  file(GLOB inputs ${CORPUS}/*)
  set(command ${PROGRAM} -artifact_prefix=${TMP}/../ ${inputs})
else()
  set(command ${PROGRAM} ${CORPUS})
endif()
execute_process(COMMAND ${command} RESULT_VARIABLE result
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(GLOB after LIST_DIRECTORIES true ${pattern})
file(GLOB left LIST_DIRECTORIES true ${TMP}/*)
list(REMOVE_ITEM after ${before} "")
message("${out}${err}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NAME}: the replay failed (${result})")
endif()
if(left OR after)
  message(FATAL_ERROR "${NAME}: left behind: ${left} ${after}")
endif()
if(NOT LIBFUZZER AND NOT err STREQUAL "")
  message(FATAL_ERROR "${NAME}: wrote on stderr")
endif()
file(REMOVE_RECURSE ${TMP})
