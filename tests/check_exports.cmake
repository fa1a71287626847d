# Fails unless the shared library's dynamic symbol table defines exactly the
# seven inkveil_* functions.
execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names)
foreach(line IN LISTS lines)
  string(REGEX MATCH "[^ ]+$" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected inkveil_cleanup inkveil_count_matches inkveil_init inkveil_last_error
    inkveil_region inkveil_regions inkveil_text)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported symbols are [${names}], expected [${expected}]")
endif()
