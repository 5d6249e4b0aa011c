# The test stages beside the unit tests, so that `ctest` in a build
# directory runs every stage that build has: the structure lint, the
# end-to-end cases against the program just built (under wine for a Windows
# build), and for the plain native build the interruption of real copies.
# The fuzz targets of the sanitizer build add theirs in fuzz/. Each stage
# has a label of its own, so that one can run alone (ctest -L e2e); test.sh
# runs them that way, the lint once.
set_tests_properties(unit platform PROPERTIES LABELS unit)
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

set(ZOROV_END_TO_END ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run.py
  $<TARGET_FILE:zorov>)
if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME e2e COMMAND ${ZOROV_END_TO_END})
  set_tests_properties(e2e PROPERTIES LABELS e2e)
  # Real copies stopped at random moments: a minute of them. The sanitizer
  # build's reports would stand in the way of the kills it is about.
  if(NOT ZOROV_SANITIZE)
    add_test(NAME interrupt
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/interrupt/run.py $<TARGET_FILE:zorov>)
    set_tests_properties(interrupt PROPERTIES LABELS interrupt)
  endif()
  return()
endif()

# A Windows build runs its cases under the wine loader of its machine type
# (ZOROV_WINE, as for tests/wine-run.sh); the cases make a prefix of their
# own.
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
if(ZOROV_WINE)
  add_test(NAME e2e COMMAND ${ZOROV_END_TO_END} --wine ${ZOROV_WINE})
  set_tests_properties(e2e PROPERTIES LABELS e2e)
else()
  message(STATUS "No wine loader: the end-to-end tests are left out of CTest")
endif()
