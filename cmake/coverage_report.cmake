# make coverage, in script mode: runs the host tests of an instrumented build (KESTREL_COVERAGE)
# and prints line and branch coverage of app/, shell/ and diag/ per file, then per directory.
# cmake -DBUILD_DIR=<coverage build> -DSOURCE_DIR=<checkout> -P cmake/coverage_report.cmake
find_program(LLVM_PROFDATA NAMES llvm-profdata llvm-profdata-14 REQUIRED)
find_program(LLVM_COV NAMES llvm-cov llvm-cov-14 REQUIRED)
find_program(CTEST NAMES ctest REQUIRED)

get_filename_component(BUILD_DIR ${BUILD_DIR} ABSOLUTE)
get_filename_component(SOURCE_DIR ${SOURCE_DIR} ABSOLUTE)
set(profiles ${BUILD_DIR}/profiles)
file(REMOVE_RECURSE ${profiles})
file(MAKE_DIRECTORY ${profiles})

# Every test process writes its own profile (%p: process id, %m: binary signature). The QEMU
# sessions (label e2e) run the image, not the host code, and are left out.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LLVM_PROFILE_FILE=${profiles}/%p-%m.profraw
          ${CTEST} -j 2 --output-on-failure -LE e2e
  WORKING_DIRECTORY ${BUILD_DIR}
  RESULT_VARIABLE ctest_result
  OUTPUT_VARIABLE ctest_output
  ERROR_VARIABLE ctest_output)
string(REGEX MATCH "[0-9]+% tests passed[^\n]*" ctest_summary "${ctest_output}")
message(STATUS "ctest: ${ctest_summary}")
if(NOT ctest_result EQUAL 0)
  message(FATAL_ERROR "the tests failed; coverage would not mean much:\n${ctest_output}")
endif()

file(GLOB raw ${profiles}/*.profraw)
execute_process(COMMAND ${LLVM_PROFDATA} merge -sparse -o ${BUILD_DIR}/coverage.profdata ${raw}
                COMMAND_ERROR_IS_FATAL ANY)

# Every executable the tests run: the suites, the corpus replays and any other test program.
file(GLOB_RECURSE candidates LIST_DIRECTORIES false ${BUILD_DIR}/tests/* ${BUILD_DIR}/host/*
     ${BUILD_DIR}/e2e/*)
set(objects)
foreach(file ${candidates})
  get_filename_component(name ${file} NAME)
  if(name MATCHES "\\.|^Makefile$|^CTestTestfile$" OR IS_DIRECTORY ${file})
    continue()
  endif()
  file(READ ${file} magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46") # ELF
    # llvm-cov takes the first binary as its own argument and the others after -object.
    if(objects)
      list(APPEND objects -object)
    endif()
    list(APPEND objects ${file})
  endif()
endforeach()

set(dirs app shell diag)
set(filters)
foreach(dir ${dirs})
  if(EXISTS ${SOURCE_DIR}/${dir})
    list(APPEND filters ${SOURCE_DIR}/${dir})
  endif()
endforeach()

set(cov_args -instr-profile=${BUILD_DIR}/coverage.profdata ${objects})
# The test programs each define their own LLVMFuzzerTestOneInput and test helpers of the same
# names; llvm-cov warns once for those, and they lie outside the directories reported.
execute_process(COMMAND ${LLVM_COV} report ${cov_args} ${filters} OUTPUT_VARIABLE per_file
                ERROR_VARIABLE warnings COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "${SOURCE_DIR}/" "" per_file "${per_file}")
message("\nCoverage of the host tests, per file:\n${per_file}")
execute_process(COMMAND ${LLVM_COV} show ${cov_args} ${filters} -format=html
                        -output-dir=${BUILD_DIR}/coverage-html -show-branches=count
                OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)

# The TOTAL line of a report: regions, missed, cover, functions, missed, cover, lines, missed,
# cover, branches, missed, cover.
set(table "| directory | lines | missed | line cover | branches | missed | branch cover |\n")
string(APPEND table "|-----------|-------|--------|------------|----------|--------|--------------|\n")
# Picks the line and branch figures out of the TOTAL row of an llvm-cov report.
macro(report_totals report_text)
  string(REGEX MATCH "TOTAL[^\n]*" total "${report_text}")
  string(REGEX REPLACE " +" ";" fields "${total}")
  list(GET fields 7 lines)
  list(GET fields 8 lines_missed)
  list(GET fields 9 lines_cover)
  list(GET fields 10 branches)
  list(GET fields 11 branches_missed)
  list(GET fields 12 branches_cover)
endmacro()

foreach(dir ${filters})
  execute_process(COMMAND ${LLVM_COV} report ${cov_args} ${dir} OUTPUT_VARIABLE report
                  ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  report_totals("${report}")
  file(RELATIVE_PATH rel ${SOURCE_DIR} ${dir})
  string(APPEND table "| ${rel}/ | ${lines} | ${lines_missed} | ${lines_cover} | ${branches} | "
                      "${branches_missed} | ${branches_cover} |\n")
endforeach()
execute_process(COMMAND ${LLVM_COV} report ${cov_args} ${filters} OUTPUT_VARIABLE report
                ERROR_QUIET)
report_totals("${report}")
string(APPEND table "| all | ${lines} | ${lines_missed} | ${lines_cover} | ${branches} | "
                    "${branches_missed} | ${branches_cover} |\n")
message("\nLine and branch coverage of the host tests:\n${table}"
        "Line by line: ${BUILD_DIR}/coverage-html/index.html")
