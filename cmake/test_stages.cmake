# The test stages beside the unit tests, so that `ctest` in a build
# directory runs every stage that build has: the structure lint, the
# end-to-end cases against the program just built (under wine for a Windows
# build), and for the plain native build the interruption of real copies.
# The fuzz targets of the sanitizer build add theirs in fuzz/. Each stage
# has a label of its own, so that one can run alone (ctest -L e2e); test.sh
# runs them that way, the lint once.
if(TEST wine_prefix_create)
  set_tests_properties(wine_prefix_create wine_prefix_remove PROPERTIES LABELS unit)
endif()

find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  message(STATUS "No Python 3: the lint and the end-to-end tests are left out of CTest")
  return()
endif()

add_test(NAME lint COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/lint.py)
set_tests_properties(lint PROPERTIES LABELS lint)
# The case folding table is the generator's output of the Unicode data.
add_test(NAME case_folding_table
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/case_folding_check.py)
set_tests_properties(case_folding_table PROPERTIES LABELS lint SKIP_RETURN_CODE 77)

# Each end-to-end case is a test of its own (e2e.NAME); a case that can't
# run here is reported as skipped. The list is read when CMake configures,
# and again whenever a file of cases changes.
file(GLOB ZOROV_END_TO_END_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZOROV_END_TO_END_FILES})
execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run.py --list
  OUTPUT_VARIABLE ZOROV_END_TO_END_CASES RESULT_VARIABLE listed)
if(NOT listed EQUAL 0)
  message(FATAL_ERROR "The end-to-end cases can't be listed")
endif()
string(REGEX REPLACE "\n$" "" ZOROV_END_TO_END_CASES "${ZOROV_END_TO_END_CASES}")
string(REPLACE "\n" ";" ZOROV_END_TO_END_CASES "${ZOROV_END_TO_END_CASES}")

function(zorov_end_to_end_cases) # the runner's arguments before --case
  foreach(name IN LISTS ZOROV_END_TO_END_CASES)
    add_test(NAME e2e.${name} COMMAND ${Python3_EXECUTABLE}
      ${CMAKE_SOURCE_DIR}/tests/e2e/run.py $<TARGET_FILE:zorov> ${ARGN} --case ${name})
    set_tests_properties(e2e.${name} PROPERTIES LABELS e2e SKIP_RETURN_CODE 77)
  endforeach()
endfunction()

if(NOT CMAKE_CROSSCOMPILING)
  zorov_end_to_end_cases()
  # Real copies stopped at random moments: a quarter of a minute for each
  # way of stopping them. The sanitizer build's reports would stand in the
  # way of the kills it is about.
  if(NOT ZOROV_SANITIZE)
    foreach(mode plain_then_restart safe_overwrite tree_then_changed logged_stop)
      add_test(NAME interrupt.${mode} COMMAND ${Python3_EXECUTABLE}
        ${CMAKE_SOURCE_DIR}/tests/interrupt/run.py $<TARGET_FILE:zorov> 15 ${mode})
      set_tests_properties(interrupt.${mode} PROPERTIES LABELS interrupt)
    endforeach()
  endif()
  return()
endif()

# A Windows build runs its cases under the wine loader of its machine type
# (ZOROV_WINE, as for tests/wine-run.sh), in the prefix its unit tests share.
if(NOT ZOROV_WINE AND DEFINED ENV{ZOROV_WINE})
  set(ZOROV_WINE $ENV{ZOROV_WINE} CACHE FILEPATH "The wine loader of the end-to-end tests")
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(ZOROV_WINE NAMES wine64 PATHS /usr/lib/wine
    DOC "The wine loader of the end-to-end tests")
else()
  find_program(ZOROV_WINE NAMES wine PATHS /usr/lib/wine
    DOC "The wine loader of the end-to-end tests")
endif()
if(ZOROV_WINE AND ZOROV_WINE_PREFIX)
  zorov_end_to_end_cases(--wine ${ZOROV_WINE} --prefix ${ZOROV_WINE_PREFIX})
  foreach(name IN LISTS ZOROV_END_TO_END_CASES)
    set_tests_properties(e2e.${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
  endforeach()
else()
  message(STATUS "No wine loader: the end-to-end tests are left out of CTest")
endif()
