# SPDX-License-Identifier: Zlib
# Writes the stub's build stamp, the variable part of its version line, into OUTPUT as a C++
# header. Run at every build (cmake -P), so a new commit or a rebuild never leaves a stale stamp:
#   PACKAGE_STRING  the package name and version
#   VERSION         the version alone (the stub's marker carries it)
#   SOURCE_DIR      the source tree; its revision is `git rev-parse HEAD`, or "N/A" outside a
#                   git checkout
# The build time is now, or the moment SOURCE_DATE_EPOCH names (in UTC, so that the same inputs
# give the same bytes anywhere). OUTPUT is rewritten only when its text changes.

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP build_date "%b %d %Y" UTC)
  string(TIMESTAMP build_time "%H:%M:%S" UTC)
else()
  string(TIMESTAMP build_date "%b %d %Y")
  string(TIMESTAMP build_time "%H:%M:%S")
endif()

set(revision "N/A")
find_program(git_program git)
if(git_program AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${git_program}" rev-parse HEAD
                  WORKING_DIRECTORY "${SOURCE_DIR}"
                  OUTPUT_VARIABLE git_revision OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_result ERROR_QUIET)
  if(git_result EQUAL 0 AND git_revision)
    set(revision "${git_revision}")
  endif()
endif()

set(text "// Written at build time by cmake/build_stamp.cmake; not to be edited.
#pragma once

inline constexpr char k_stamp_package[] = \"${PACKAGE_STRING}\";
inline constexpr char k_stamp_version[] = \"${VERSION}\";
inline constexpr char k_stamp_build_date[] = \"${build_date}\";
inline constexpr char k_stamp_build_time[] = \"${build_time}\";
inline constexpr char k_stamp_revision[] = \"${revision}\";
")
set(old_text "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old_text)
endif()
if(NOT old_text STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
