# SPDX-License-Identifier: Zlib
# Every GoogleTest case becomes a CTest test of its own, named "<Suite>.<Case>": `ctest -R`
# picks single cases, `ctest -j` spreads them, and each has its own timeout and labels.
#
# The cases are listed at test time (PRE_TEST): CTest runs `<executable> --gtest_list_tests`
# whenever the executable is newer than its last list. The cross build lists and runs them
# through its CMAKE_CROSSCOMPILING_EMULATOR, scripts/wine-run, so nothing starts Wine at build
# time.
#
#   sfx_add_gtest_cases(<target> LABELS <label>...)
#     Registers the cases of <target> with the labels <label>... (plus "wine" in the cross
#     build) and a timeout of SFX_CASE_TIMEOUT seconds.
#   sfx_set_gtest_cases(<target> CASES <Suite.Case>... [TIMEOUT <seconds>] [LABELS <label>...])
#     Gives the named cases of <target> another timeout or more labels (name a case once: the
#     last call's labels win). A name that the executable does not list is an error when CTest
#     reads the tests.

include(GoogleTest)

set(SFX_CASE_TIMEOUT 60)

function(sfx_add_gtest_cases target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LABELS")
  set(labels ${arg_LABELS})
  if(CMAKE_CROSSCOMPILING)
    list(APPEND labels wine)
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    # The first Wine run of a new prefix builds the prefix first.
    DISCOVERY_TIMEOUT 300)
  # gtest_discover_tests(PROPERTIES) cannot carry a list such as two labels: the properties are
  # set by a script of our own that CTest reads after the listing, which names the cases in
  # `<target>_TESTS`.
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_case_properties.cmake")
  file(WRITE "${script}"
       "set_tests_properties(\${${target}_TESTS} PROPERTIES\n"
       "  LABELS \"${labels}\" TIMEOUT ${SFX_CASE_TIMEOUT})\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  set_property(TARGET ${target} PROPERTY SFX_CASE_LABELS "${labels}")
  set_property(TARGET ${target} PROPERTY SFX_CASE_SCRIPT "${script}")
endfunction()

function(sfx_set_gtest_cases target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT" "CASES;LABELS")
  get_property(labels TARGET ${target} PROPERTY SFX_CASE_LABELS)
  get_property(script TARGET ${target} PROPERTY SFX_CASE_SCRIPT)
  list(APPEND labels ${arg_LABELS})
  set(properties "LABELS \"${labels}\"")
  if(arg_TIMEOUT)
    string(APPEND properties " TIMEOUT ${arg_TIMEOUT}")
  endif()
  foreach(case IN LISTS arg_CASES)
    file(APPEND "${script}"
         "list(FIND ${target}_TESTS \"${case}\" index)\n"
         "if(index EQUAL -1)\n"
         "  message(SEND_ERROR \"${target} has no test case ${case}\")\n"
         "endif()\n"
         "set_tests_properties(\"${case}\" PROPERTIES ${properties})\n")
  endforeach()
endfunction()
