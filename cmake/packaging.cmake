# SPDX-License-Identifier: Zlib
# Installation and the Debian package (native builds only): the generator, the stubs it packs (the
# native build's Linux stub, and the Windows stubs of the cross build in SFX_WINDOWS_STUBS_DIR),
# compressed man pages, the README, the licence and the third-party notices, and the CMake
# package for vendors' projects.
#
#   cmake --install build/native --prefix DIR     the files below DIR
#   cd build/native && cpack -G DEB                sfxkit_<version>_amd64.deb, with Debian's own
#                                                  files (cmake/package/debian_files.cmake)
#
# Every program goes below lib/sfxkit/stubs or bin/: the stubs are executables (the Linux one an
# ELF file) and do not belong below share/.

# Installing and packing take what the build made and never build again: the build stamp changes
# at every build, and the Debian package test runs cpack while other tests run the programs that a
# new build would relink.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(GNUInstallDirs)
set(SFX_WINDOWS_STUBS_DIR "${PROJECT_SOURCE_DIR}/build/windows" CACHE PATH
    "Folder holding the cross build's sfx_stub.exe and sfx_stub_admin.exe; empty for none")
set(SFX_DEB_MAINTAINER "" CACHE STRING
    "The .deb's Maintainer field, \"Name <address>\": whoever ships the package")

# The generator finds the stubs here relative to its own bin/ (src/generator/stub_location.cpp),
# and so does the CMake package (cmake/package/sfxkitConfig.cmake).
set(sfx_stubs_destination "lib/sfxkit/stubs")
install(TARGETS vek_fwsfx_gen RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS sfx_stub RUNTIME DESTINATION "${sfx_stubs_destination}/linux-x86_64")
if(SFX_WINDOWS_STUBS_DIR)
  install(PROGRAMS "${SFX_WINDOWS_STUBS_DIR}/sfx_stub.exe"
                   "${SFX_WINDOWS_STUBS_DIR}/sfx_stub_admin.exe"
          DESTINATION "${sfx_stubs_destination}/windows-x86_64")
endif()

# Man pages go compressed (gzip -9n: no name or time in the header, so every build gives the same
# bytes); man reads them so.
foreach(page IN ITEMS vek_fwsfx_gen.1 sfxkit-package.7)
  set(compressed "${PROJECT_BINARY_DIR}/man/${page}.gz")
  add_custom_command(OUTPUT "${compressed}"
                     COMMAND "${CMAKE_COMMAND}" "-DINPUT=${PROJECT_SOURCE_DIR}/docs/man/${page}"
                             "-DOUTPUT=${compressed}" -P "${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake"
                     DEPENDS "${PROJECT_SOURCE_DIR}/docs/man/${page}"
                             "${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake"
                     COMMENT "Compressing the man page ${page}"
                     VERBATIM)
  list(APPEND sfx_compressed_man_pages "${compressed}")
  string(REGEX REPLACE ".*\\." "" section "${page}")
  install(FILES "${compressed}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}")
endforeach()
add_custom_target(sfx_man_pages ALL DEPENDS ${sfx_compressed_man_pages})
install(FILES README.md docs/ARCHITECTURE.md LICENSE THIRD-PARTY-NOTICES
        DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# find_package(sfxkit) and sfxkit_add_package() for vendors' projects; the config finds the
# generator and the stubs relative to its own place, three levels below the prefix.
# Any later release of the same major version serves; the generator and the stubs run whatever
# the consuming project builds for.
include(CMakePackageConfigHelpers)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/sfxkitConfigVersion.cmake"
                                 COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES cmake/package/sfxkitConfig.cmake cmake/package/sfxkitPayload.cmake
              "${PROJECT_BINARY_DIR}/sfxkitConfigVersion.cmake"
        DESTINATION lib/cmake/sfxkit)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sfxkit)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# Whoever ships the package maintains it: the build names nobody by itself, and cpack refuses to
# pack without it (cmake/package/debian_files.cmake). `cpack -D CPACK_DEBIAN_PACKAGE_MAINTAINER=...`
# overrides it for one run.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SFX_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-extracting packages for device tools")
# Lines of at most 80 characters (lintian); an empty line separates paragraphs.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "sfxkit makes self-extracting packages: one executable that unpacks a ZIP"
  "archive into a private temporary folder, runs the packaged tool there with"
  "the user's arguments, passes its exit status back and cleans up."
  ""
  "This package holds the generator vek_fwsfx_gen, which builds, inspects and"
  "verifies such packages, the stubs it packs for Linux x86-64 and Windows"
  "x86-64 (plain, and asking for administrator rights), man pages and a CMake"
  "package for making packages as a build step.")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# Depends: what dpkg-shlibdeps finds the ELF programs need (the Windows stubs need nothing here).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The generator goes without its debugging information too (the stub never has any).
set(CPACK_STRIP_FILES ON)
# Debian's own files (copyright, changelog, lintian overrides), installed by cpack only.
set(CPACK_INSTALL_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/package/debian_files.cmake")
set(CPACK_SFX_DEBIAN_DIR "${PROJECT_SOURCE_DIR}/cmake/package/debian")
include(CPack)
