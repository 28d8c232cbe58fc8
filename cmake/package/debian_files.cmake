# SPDX-License-Identifier: Zlib
# Run by cpack (CPACK_INSTALL_SCRIPTS) before it installs the project into its staging folder:
# adds the files a Debian package carries besides the project's own, in /usr/share/doc/sfxkit and
# /usr/share/lintian/overrides. `cmake --install` never runs it.
#   copyright        machine-readable: sfxkit's licence and that of everything the programs
#                    carry (cmake/package/debian/copyright)
#   changelog.gz     cmake/package/debian/changelog with the maintainer filled in, gzip -9n
#   lintian override what the static stub carries on purpose (cmake/package/debian/lintian-overrides)
# CPACK_SFX_DEBIAN_DIR names the folder of those sources. The files go below cpack's staging
# folder, CPACK_TEMPORARY_INSTALL_DIRECTORY (CMAKE_INSTALL_PREFIX is the project's, not the
# staging folder, here).

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
if(NOT CPACK_DEBIAN_PACKAGE_MAINTAINER)
  message(FATAL_ERROR
    "The .deb needs a maintainer, whoever ships it: configure with "
    "-DSFX_DEB_MAINTAINER=\"Name <address>\", or run "
    "cpack -D CPACK_DEBIAN_PACKAGE_MAINTAINER=\"Name <address>\".")
endif()
if(NOT CPACK_TEMPORARY_INSTALL_DIRECTORY)
  message(FATAL_ERROR "cpack gave no staging folder (CPACK_TEMPORARY_INSTALL_DIRECTORY)")
endif()
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")

file(STRINGS "${CPACK_SFX_DEBIAN_DIR}/changelog" first_line LIMIT_COUNT 1)
if(NOT first_line MATCHES "^${CPACK_PACKAGE_NAME} \\(${CPACK_PACKAGE_VERSION}\\) ")
  message(FATAL_ERROR "${CPACK_SFX_DEBIAN_DIR}/changelog starts with \"${first_line}\": add an "
                      "entry for version ${CPACK_PACKAGE_VERSION} on top")
endif()
file(READ "${CPACK_SFX_DEBIAN_DIR}/changelog" changelog)
string(REPLACE "@MAINTAINER@" "${CPACK_DEBIAN_PACKAGE_MAINTAINER}" changelog "${changelog}")
file(WRITE "${doc}/changelog" "${changelog}")
execute_process(COMMAND "${CMAKE_COMMAND}" "-DINPUT=${doc}/changelog" "-DOUTPUT=${doc}/changelog.gz"
                        -P "${CMAKE_CURRENT_LIST_DIR}/../gzip_file.cmake"
                RESULT_VARIABLE result)
file(REMOVE "${doc}/changelog")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "compressing the changelog failed")
endif()

file(COPY "${CPACK_SFX_DEBIAN_DIR}/copyright" DESTINATION "${doc}")
file(MAKE_DIRECTORY "${root}/share/lintian/overrides")
file(COPY_FILE "${CPACK_SFX_DEBIAN_DIR}/lintian-overrides"
     "${root}/share/lintian/overrides/${CPACK_PACKAGE_NAME}")
