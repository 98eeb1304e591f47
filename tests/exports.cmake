# Fails unless the shared library LIBRARY defines WAVCreate as its only dynamic symbol.
find_program(NM NAMES nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(STRIP "${symbols}" symbols)
string(REGEX REPLACE "[^\n]* T " "" names "${symbols}")
if(NOT names STREQUAL "WAVCreate")
  message(FATAL_ERROR "expected WAVCreate alone, found:\n${symbols}")
endif()
message(STATUS "exports: ${symbols}")
