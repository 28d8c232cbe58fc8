# sfxkit's CMake package: find_package(sfxkit) gives the installed generator and stubs, and
#
#   sfxkit_add_package(<target> DIR <folder> COMMAND <template> OUTPUT <package>
#                      [EXTRA_TOOL <command>] [PLATFORM windows|linux] [ADMIN] [LEVEL <0-9>])
#
# which makes <package> from everything below <folder> as a build step of the custom target
# <target> (built by default). PLATFORM picks the stub (linux by default); ADMIN picks the
# Windows stub that asks for administrator rights. The package is made again when the folder's
# files or the stub change.

get_filename_component(_sfxkit_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(SFXKIT_GENERATOR "${_sfxkit_prefix}/bin/vek_fwsfx_gen")
# The stubs, one folder per platform (linux-x86_64, windows-x86_64); earlier installations had
# them below share/.
set(SFXKIT_STUBS_DIR "${_sfxkit_prefix}/lib/sfxkit/stubs")
if(NOT IS_DIRECTORY "${SFXKIT_STUBS_DIR}" AND IS_DIRECTORY "${_sfxkit_prefix}/share/sfxkit/stubs")
  set(SFXKIT_STUBS_DIR "${_sfxkit_prefix}/share/sfxkit/stubs")
endif()
if(NOT EXISTS "${SFXKIT_GENERATOR}")
  set(sfxkit_FOUND FALSE)
  set(sfxkit_NOT_FOUND_MESSAGE "no vek_fwsfx_gen in ${_sfxkit_prefix}/bin")
  return()
endif()

function(sfxkit_add_package target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "ADMIN" "DIR;COMMAND;OUTPUT;EXTRA_TOOL;PLATFORM;LEVEL" "")
  foreach(required IN ITEMS DIR COMMAND OUTPUT)
    if(NOT DEFINED arg_${required})
      message(FATAL_ERROR "sfxkit_add_package(${target}): ${required} is missing")
    endif()
  endforeach()
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
      message(FATAL_ERROR "sfxkit_add_package(${target}): ADMIN is for PLATFORM windows")
    endif()
    set(stub "${SFXKIT_STUBS_DIR}/linux-x86_64/sfx_stub")
  else()
    message(FATAL_ERROR "sfxkit_add_package(${target}): PLATFORM must be windows or linux")
  endif()
  get_filename_component(folder "${arg_DIR}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(arguments --stub "${stub}" --dir "${folder}" --command "${arg_COMMAND}" -o "${output}")
  if(DEFINED arg_EXTRA_TOOL)
    list(APPEND arguments --extra-tool "${arg_EXTRA_TOOL}")
  endif()
  if(DEFINED arg_LEVEL)
    list(APPEND arguments --level "${arg_LEVEL}")
  endif()
  file(GLOB_RECURSE inputs CONFIGURE_DEPENDS "${folder}/*")
  add_custom_command(OUTPUT "${output}"
                     COMMAND "${SFXKIT_GENERATOR}" ${arguments}
                     DEPENDS ${inputs} "${stub}"
                     COMMENT "Packing ${arg_OUTPUT}"
                     VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()
