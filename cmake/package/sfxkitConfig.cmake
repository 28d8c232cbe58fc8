# SPDX-License-Identifier: Zlib
# sfxkit's CMake package: find_package(sfxkit) gives the installed generator as the imported
# target sfxkit::vek_fwsfx_gen (its path in SFXKIT_GENERATOR), the stubs' folder SFXKIT_STUBS_DIR,
# and
#
#   sfxkit_add_package(<target> [DIR <folder>] [FILES <file>...] COMMAND <template>
#                      OUTPUT <package> [DEPENDS <target or file>...] [EXTRA_TOOL <command>]
#                      [PLATFORM windows|linux] [ADMIN] [LEVEL <0-9>] [VERIFY])
#
# which makes <package> as a build step of the custom target <target> (built by default) from
# everything below <folder> and the FILES (files or folders, by their names, at the top of the
# archive; generator expressions such as $<TARGET_FILE:tool> work, and pack another target's
# output). With FILES, both are copied into a staging folder below the build folder first.
# DEPENDS names targets to build first (defined before the call; ones that write into <folder>,
# say) and other files the package depends on. PLATFORM picks the stub (linux by default); ADMIN the Windows stub that asks for
# administrator rights. VERIFY runs `vek_fwsfx_gen --info <package> --verify` after packing.
#
# Every build lists the payload (sfxkitPayload.cmake) and the package is made again when an entry
# appears, disappears or changes, or when the stub or the generator changes; nothing else does.

get_filename_component(_sfxkit_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(SFXKIT_GENERATOR "${_sfxkit_prefix}/bin/vek_fwsfx_gen")
# The stubs, one folder per platform (linux-x86_64, windows-x86_64); earlier installations had
# them below share/.
set(SFXKIT_STUBS_DIR "${_sfxkit_prefix}/lib/sfxkit/stubs")
if(NOT IS_DIRECTORY "${SFXKIT_STUBS_DIR}" AND IS_DIRECTORY "${_sfxkit_prefix}/share/sfxkit/stubs")
  set(SFXKIT_STUBS_DIR "${_sfxkit_prefix}/share/sfxkit/stubs")
endif()
set(_sfxkit_payload_script "${CMAKE_CURRENT_LIST_DIR}/sfxkitPayload.cmake")
if(NOT EXISTS "${SFXKIT_GENERATOR}")
  set(sfxkit_FOUND FALSE)
  set(sfxkit_NOT_FOUND_MESSAGE "no vek_fwsfx_gen in ${_sfxkit_prefix}/bin")
  return()
endif()
if(NOT TARGET sfxkit::vek_fwsfx_gen)
  add_executable(sfxkit::vek_fwsfx_gen IMPORTED)
  set_target_properties(sfxkit::vek_fwsfx_gen PROPERTIES IMPORTED_LOCATION "${SFXKIT_GENERATOR}")
endif()

function(sfxkit_add_package target)
  set(prefix "sfxkit_add_package(${target})")
  cmake_parse_arguments(PARSE_ARGV 1 arg "ADMIN;VERIFY" "DIR;COMMAND;OUTPUT;EXTRA_TOOL;PLATFORM;LEVEL"
                        "FILES;DEPENDS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${prefix}: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required IN ITEMS COMMAND OUTPUT)
    if(NOT DEFINED arg_${required})
      message(FATAL_ERROR "${prefix}: ${required} is missing")
    endif()
  endforeach()
  if(NOT DEFINED arg_DIR AND NOT arg_FILES)
    message(FATAL_ERROR "${prefix}: DIR or FILES is missing: give the payload")
  endif()
  if(NOT arg_PLATFORM)
    set(arg_PLATFORM linux)
  endif()
  if(arg_PLATFORM STREQUAL "windows")
    set(stub "${SFXKIT_STUBS_DIR}/windows-x86_64/sfx_stub.exe")
    if(arg_ADMIN)
      set(stub "${SFXKIT_STUBS_DIR}/windows-x86_64/sfx_stub_admin.exe")
    endif()
  elseif(arg_PLATFORM STREQUAL "linux")
    if(arg_ADMIN)
      message(FATAL_ERROR "${prefix}: ADMIN is for PLATFORM windows")
    endif()
    set(stub "${SFXKIT_STUBS_DIR}/linux-x86_64/sfx_stub")
  else()
    message(FATAL_ERROR "${prefix}: PLATFORM must be windows or linux")
  endif()
  if(NOT EXISTS "${stub}")
    message(FATAL_ERROR "${prefix}: the ${arg_PLATFORM} stub ${stub} is not installed; "
                        "install an sfxkit built with it")
  endif()

  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(work "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.sfxkit")
  set(listing "${work}/payload.list")
  set(payload_arguments "-DLISTING=${listing}" "-DOUTPUT=${output}")
  set(folder "")
  set(inputs "")
  if(DEFINED arg_DIR)
    get_filename_component(folder "${arg_DIR}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT IS_DIRECTORY "${folder}")
      message(FATAL_ERROR "${prefix}: DIR ${folder} does not exist")
    endif()
    # Known files are the package's dependencies too: the build tool sees their times exactly.
    file(GLOB_RECURSE inputs CONFIGURE_DEPENDS "${folder}/*")
    list(REMOVE_ITEM inputs "${output}")  # the generator leaves the package out
  endif()
  set(files "")
  foreach(file IN LISTS arg_FILES)
    string(GENEX_STRIP "${file}" plain)
    if(plain STREQUAL file)
      get_filename_component(file "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    endif()
    list(APPEND files "${file}")
  endforeach()
  if(files)
    list(APPEND payload_arguments "-DSOURCE=${folder}" -DSTAGE=ON)
    set(folder "${work}/payload")
  endif()
  list(APPEND payload_arguments "-DFOLDER=${folder}")

  # Runs at every build; rewrites the listing only when the payload changed. A target named in a
  # generator expression among the files is built first.
  add_custom_target(${target}_sfxkit_payload
                    COMMAND "${CMAKE_COMMAND}" ${payload_arguments} -P "${_sfxkit_payload_script}"
                            -- ${files}
                    BYPRODUCTS "${listing}"
                    COMMENT "Listing the payload of ${arg_OUTPUT}"
                    VERBATIM)
  set(depends "")
  foreach(dependency IN LISTS arg_DEPENDS)
    if(TARGET "${dependency}")
      add_dependencies(${target}_sfxkit_payload "${dependency}")
    else()
      get_filename_component(dependency "${dependency}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
      list(APPEND depends "${dependency}")
    endif()
  endforeach()

  set(arguments --stub "${stub}" --dir "${folder}" --command "${arg_COMMAND}" -o "${output}")
  if(DEFINED arg_EXTRA_TOOL)
    list(APPEND arguments --extra-tool "${arg_EXTRA_TOOL}")
  endif()
  if(DEFINED arg_LEVEL)
    list(APPEND arguments --level "${arg_LEVEL}")
  endif()
  add_custom_command(OUTPUT "${output}"
                     COMMAND sfxkit::vek_fwsfx_gen ${arguments}
                     DEPENDS "${listing}" ${inputs} ${files} ${depends} "${stub}" "${SFXKIT_GENERATOR}"
                     COMMENT "Packing ${arg_OUTPUT}"
                     VERBATIM)
  set(products "${output}")
  if(arg_VERIFY)
    # A stamp of its own: a package that failed the check is checked again at the next build.
    add_custom_command(OUTPUT "${work}/verified"
                       COMMAND sfxkit::vek_fwsfx_gen --info "${output}" --verify
                       COMMAND "${CMAKE_COMMAND}" -E touch "${work}/verified"
                       DEPENDS "${output}"
                       COMMENT "Verifying ${arg_OUTPUT}"
                       VERBATIM)
    list(APPEND products "${work}/verified")
  endif()
  add_custom_target(${target} ALL DEPENDS ${products})
  add_dependencies(${target} ${target}_sfxkit_payload)
endfunction()
