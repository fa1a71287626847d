# Fails unless the shared library's dynamic symbol table defines exactly the
# inkveil_* functions of the public header: the seven of single calls and
# those of jobs.
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
set(expected inkveil_cleanup inkveil_count_matches inkveil_init inkveil_job_add_regions
    inkveil_job_add_text inkveil_job_box inkveil_job_box_count inkveil_job_error inkveil_job_free
    inkveil_job_matches inkveil_job_new inkveil_job_run inkveil_job_set_color
    inkveil_job_set_input inkveil_job_set_output inkveil_job_term_count inkveil_last_error
    inkveil_region inkveil_regions inkveil_text)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported symbols are [${names}], expected [${expected}]")
endif()
