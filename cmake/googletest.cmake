# SPDX-License-Identifier: Zlib
# Defines `sfx_gtest` (GoogleTest and GoogleMock, no main) and `sfx_gtest_main` (the same
# plus GoogleTest's main) for the project's test executables.
#   native:  Debian's libgtest-dev / libgmock-dev libraries;
#   Windows: no mingw build of GoogleTest is packaged, so it is compiled here from the
#            sources that libgtest-dev ships in /usr/src/googletest.
# cmake/test_registration.cmake registers the cases of each test executable with CTest.

if(WIN32)
  set(SFX_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
      "GoogleTest's sources, as Debian's libgtest-dev installs them")
  if(NOT EXISTS "${SFX_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR
      "GoogleTest's sources are missing from ${SFX_GOOGLETEST_SOURCE_DIR}.\n"
      "Run scripts/bootstrap: it installs libgtest-dev and libgmock-dev.")
  endif()
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory("${SFX_GOOGLETEST_SOURCE_DIR}"
                   "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)
  # GoogleTest's own flags (-Wall -Wshadow ...) stay; its warnings do not fail our build.
  foreach(_sfx_target IN ITEMS gtest gtest_main gmock gmock_main)
    target_compile_options(${_sfx_target} PRIVATE -w)
  endforeach()
  unset(_sfx_target)
  set(_sfx_gtest_libs gtest gmock)
  set(_sfx_gtest_main gtest_main)
else()
  find_package(GTest REQUIRED)
  set(_sfx_gtest_libs GTest::gtest GTest::gmock)
  set(_sfx_gtest_main GTest::gtest_main)
endif()

add_library(sfx_gtest INTERFACE)
target_link_libraries(sfx_gtest INTERFACE ${_sfx_gtest_libs})
add_library(sfx_gtest_main INTERFACE)
target_link_libraries(sfx_gtest_main INTERFACE sfx_gtest ${_sfx_gtest_main})
unset(_sfx_gtest_libs)
unset(_sfx_gtest_main)
