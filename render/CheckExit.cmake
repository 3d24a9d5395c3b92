# Runs glidescape-render and checks its exit code and stderr.
#   cmake -DTOOL=<binary> -DARGS=<;-list> -DEXPECT_CODE=<n>
#         [-DEXPECT_ERROR=<text on the one stderr line>] [-DEXPECT_OUTPUT=<stdout, whole>]
#         -P CheckExit.cmake
execute_process(COMMAND ${TOOL} ${ARGS}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code EQUAL EXPECT_CODE)
  message(FATAL_ERROR "exit code ${code}, expected ${EXPECT_CODE}; stderr: ${err}")
endif()
if(NOT "${EXPECT_ERROR}" STREQUAL "")
  string(REGEX MATCHALL "\n" newlines "${err}")
  list(LENGTH newlines lines)
  if(NOT lines EQUAL 1)
    message(FATAL_ERROR "expected one line on stderr, got ${lines}: ${err}")
  endif()
  string(FIND "${err}" "${EXPECT_ERROR}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "stderr does not name '${EXPECT_ERROR}': ${err}")
  endif()
endif()
if(DEFINED EXPECT_OUTPUT AND NOT "${out}" STREQUAL "${EXPECT_OUTPUT}")
  message(FATAL_ERROR "stdout '${out}', expected '${EXPECT_OUTPUT}'")
endif()
