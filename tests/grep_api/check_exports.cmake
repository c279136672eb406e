# Fails unless LIBRARY defines exactly the seven public functions.
execute_process(COMMAND nm -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(found)
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ ]+) ([A-Za-z]) ")
    set(symbol ${CMAKE_MATCH_1})
    # Version nodes are absolute symbols, not functions.
    if(NOT CMAKE_MATCH_2 STREQUAL "A")
      list(APPEND found ${symbol})
    endif()
  endif()
endforeach()
list(SORT found)
set(expected grep_batch_replace_json grep_last_error grep_read_lines grep_replace_lines
    grep_search_json grep_search_stream grep_version)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  found:    ${found}")
endif()
message(STATUS "exports: ${found}")
