# A wrong directive must fail the build: each case of format_check_cases.cpp is compiled on its
# own (syntax only) and must be refused by the format check, while case 0 must compile.
# Usage: cmake -DCXX=<compiler> -DSOURCE_DIR=<repository> -P format_check.cmake
set(cases_file ${SOURCE_DIR}/tests/compile_fail/format_check_cases.cpp)
set(last_case 8)
foreach(case RANGE 0 ${last_case})
  execute_process(
    COMMAND ${CXX} -std=c++20 -fsyntax-only -Wall -Wextra -I${SOURCE_DIR} -DCASE=${case}
            ${cases_file}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(case EQUAL 0)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "the accepted calls (case 0) do not compile:\n${output}")
    endif()
  elseif(result EQUAL 0)
    message(FATAL_ERROR "case ${case} compiles, but its format does not fit its arguments")
  elseif(NOT output MATCHES "CheckedFormat")
    message(FATAL_ERROR "case ${case} fails, but not in the format check:\n${output}")
  endif()
endforeach()
message(STATUS "cases 1 to ${last_case} refused by the format check, case 0 accepted")
