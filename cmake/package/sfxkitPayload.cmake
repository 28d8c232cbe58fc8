# SPDX-License-Identifier: Zlib
# Run by every build of a sfxkit_add_package target (cmake -P, see sfxkitConfig.cmake): brings the
# folder the generator packs up to date and writes its listing, so that the package is made again
# exactly when the payload changed, a removed file included.
#
#   cmake -DFOLDER=<packed folder> -DLISTING=<file> [-DOUTPUT=<package>]
#         [-DSTAGE=ON [-DSOURCE=<DIR>]] -P sfxkitPayload.cmake [-- <file or folder>...]
#
# The listing holds a line per entry: type, name, link target, size and modification time (to the
# microsecond where CMake can tell). It is rewritten only when it differs, so an unchanged payload
# leaves the package alone.
#
# With STAGE, FOLDER is a staging folder made to hold exactly SOURCE's contents and the files and
# folders named after "--" (another target's output, say) by their names; the listing describes
# the originals. An entry whose line changed since the last listing is copied again, what is in
# neither place any more is removed.
cmake_minimum_required(VERSION 3.16)

foreach(required IN ITEMS FOLDER LISTING)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "sfxkitPayload.cmake: ${required} is not set")
  endif()
endforeach()

# The arguments after "--": what is staged beside SOURCE's contents.
set(extra_inputs "")
set(after_separator FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(index RANGE ${last})
  if(after_separator)
    list(APPEND extra_inputs "${CMAKE_ARGV${index}}")
  elseif(CMAKE_ARGV${index} STREQUAL "--")
    set(after_separator TRUE)
  endif()
endforeach()

# Entries are "<root>//<name>": the original's path, and the name in the packed folder. Roots are
# absolute and normalised, so the first "//" ends the root.
# Everything below "<root>/<subfolder>" (or <root>), named relative to root.
function(entries_below root subfolder out)
  set(pattern "${root}/*")
  if(subfolder)
    set(pattern "${root}/${subfolder}/*")
  endif()
  file(GLOB_RECURSE names LIST_DIRECTORIES true RELATIVE "${root}" "${pattern}")
  set(result "")
  foreach(name IN LISTS names)
    list(APPEND result "${root}//${name}")
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# The name in the packed folder, and the original's path.
function(split_entry entry name_out path_out)
  string(FIND "${entry}" "//" split)
  string(SUBSTRING "${entry}" 0 ${split} root)
  math(EXPR split "${split} + 2")
  string(SUBSTRING "${entry}" ${split} -1 name)
  set(${name_out} "${name}" PARENT_SCOPE)
  set(${path_out} "${root}/${name}" PARENT_SCOPE)
endfunction()

if(OUTPUT)
  get_filename_component(OUTPUT "${OUTPUT}" ABSOLUTE)
endif()
set(entries "")
if(STAGE)
  set(top_names "")
  if(SOURCE)
    if(NOT IS_DIRECTORY "${SOURCE}")
      message(FATAL_ERROR "sfxkit: the payload folder ${SOURCE} does not exist")
    endif()
    entries_below("${SOURCE}" "" entries)
    file(GLOB top_names RELATIVE "${SOURCE}" "${SOURCE}/*")
  endif()
  foreach(input IN LISTS extra_inputs)
    get_filename_component(input "${input}" ABSOLUTE)
    if(NOT EXISTS "${input}" AND NOT IS_SYMLINK "${input}")
      message(FATAL_ERROR "sfxkit: ${input} (FILES) does not exist")
    endif()
    get_filename_component(name "${input}" NAME)
    get_filename_component(root "${input}" DIRECTORY)
    if(name IN_LIST top_names)
      message(FATAL_ERROR "sfxkit: ${input} (FILES) and the payload folder both hold ${name}")
    endif()
    list(APPEND top_names "${name}")
    list(APPEND entries "${root}//${name}")
    if(IS_DIRECTORY "${input}" AND NOT IS_SYMLINK "${input}")
      entries_below("${root}" "${name}" inner)
      list(APPEND entries ${inner})
    endif()
  endforeach()
else()
  if(NOT IS_DIRECTORY "${FOLDER}")
    message(FATAL_ERROR "sfxkit: the payload folder ${FOLDER} does not exist")
  endif()
  entries_below("${FOLDER}" "" entries)
endif()
list(SORT entries)

set(previous "")
if(EXISTS "${LISTING}")
  file(READ "${LISTING}" previous)
  string(REPLACE "\n" ";" previous_lines "${previous}")
  foreach(line IN LISTS previous_lines)
    set("listed:${line}" TRUE)
  endforeach()
endif()

set(listing "")
foreach(entry IN LISTS entries)
  split_entry("${entry}" name path)
  if(path STREQUAL OUTPUT)
    continue()  # the generator leaves the package out of the folder it packs
  endif()
  if(IS_SYMLINK "${path}")
    file(READ_SYMLINK "${path}" target)
    set(line "link ${name}\t${target}")
  elseif(IS_DIRECTORY "${path}")
    set(line "folder ${name}\t")
  else()
    set(line "file ${name}\t")
  endif()
  if(NOT IS_DIRECTORY "${path}" AND EXISTS "${path}")
    file(SIZE "${path}" size)
    file(TIMESTAMP "${path}" time "%s.%f" UTC)
    string(APPEND line " ${size} ${time}")
  endif()
  string(APPEND listing "${line}\n")
  set("wanted:${name}" TRUE)
  if(NOT DEFINED "listed:${line}")
    set("changed:${entry}" TRUE)
  endif()
endforeach()

if(STAGE)
  # Away with what is no longer wanted; an entry whose type changed is replaced below.
  file(GLOB_RECURSE staged LIST_DIRECTORIES true RELATIVE "${FOLDER}" "${FOLDER}/*")
  foreach(name IN LISTS staged)
    if(NOT DEFINED "wanted:${name}" AND (EXISTS "${FOLDER}/${name}" OR IS_SYMLINK "${FOLDER}/${name}"))
      file(REMOVE_RECURSE "${FOLDER}/${name}")
    endif()
  endforeach()
  file(MAKE_DIRECTORY "${FOLDER}")
  # Every entry whose line changed, and every one missing (a staging folder removed by hand).
  foreach(entry IN LISTS entries)
    split_entry("${entry}" name path)
    set(staged_path "${FOLDER}/${name}")
    if(NOT DEFINED "changed:${entry}" AND (EXISTS "${staged_path}" OR IS_SYMLINK "${staged_path}"))
      continue()
    endif()
    get_filename_component(parent "${staged_path}" DIRECTORY)
    if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}")
      if(IS_SYMLINK "${staged_path}" OR (EXISTS "${staged_path}" AND NOT IS_DIRECTORY "${staged_path}"))
        file(REMOVE "${staged_path}")
      endif()
      file(MAKE_DIRECTORY "${staged_path}")
    else()
      if(EXISTS "${staged_path}" OR IS_SYMLINK "${staged_path}")
        file(REMOVE_RECURSE "${staged_path}")
      endif()
      # Keeps the mode; a link stays a link.
      file(COPY "${path}" DESTINATION "${parent}")
    endif()
  endforeach()
endif()

if(NOT listing STREQUAL previous)
  file(WRITE "${LISTING}" "${listing}")
endif()
