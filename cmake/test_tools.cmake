# Tests that need a tool beyond what every build needs (the compiler, CMake,
# GoogleTest, Python) run only where the tool is installed.
#
# helligkeit_find_test_tool(VARIABLE PROGRAM PACKAGE package TESTS test...)
# looks PROGRAM up as find_program(VARIABLE PROGRAM) does. Where it is
# missing, the TESTS are noted, and configuring ends with one list of the
# tests that will not run, each with the Debian package that brings it back.
# Where the environment variable HELLIGKEIT_REQUIRE_ALL_TESTS is set (CI
# sets it), that list stops configuring instead.
function(helligkeit_find_test_tool variable program)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "PACKAGE" "TESTS")
  find_program(${variable} ${program})
  if(NOT ${variable})
    foreach(test IN LISTS arg_TESTS)
      set_property(GLOBAL APPEND PROPERTY helligkeit_tests_not_run
                   "  ${test}: needs ${program} (package ${arg_PACKAGE})")
    endforeach()
  endif()
endfunction()

function(helligkeit_report_tests_not_run)
  get_property(not_run GLOBAL PROPERTY helligkeit_tests_not_run)
  if(NOT not_run)
    return()
  endif()
  list(JOIN not_run "\n" lines)
  set(text "Tests that will not run, for want of a tool (install the package named to bring each back):\n${lines}")
  if(DEFINED ENV{HELLIGKEIT_REQUIRE_ALL_TESTS})
    message(FATAL_ERROR "${text}\nHELLIGKEIT_REQUIRE_ALL_TESTS is set: every test must run.")
  endif()
  message(NOTICE "${text}")
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL helligkeit_report_tests_not_run)

# helligkeit_discover_tests(TARGET [ARGUMENTS...]) makes each case of the
# GoogleTest program TARGET a CTest test, as gtest_discover_tests does with
# the ARGUMENTS. The cases are listed when the tests run (under Wine or
# qemu-user when cross-compiled), not when building. Listing them takes well
# under a second, but a busy machine can make it take many: the time limit
# only stops a listing that hangs.
function(helligkeit_discover_tests target)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 600 ${ARGN})
endfunction()
