# SPDX-License-Identifier: Zlib
# Compresses INPUT into OUTPUT with gzip -9n: the best compression, and no file name or time in
# the header, so that the same input always gives the same bytes.
#   cmake -DINPUT=<file> -DOUTPUT=<file.gz> -P cmake/gzip_file.cmake

find_program(gzip_program gzip)
if(NOT gzip_program)
  message(FATAL_ERROR "gzip is missing (Debian package gzip)")
endif()
get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${output_dir}")
execute_process(COMMAND "${gzip_program}" -9 -n -c "${INPUT}" OUTPUT_FILE "${OUTPUT}.tmp"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}.tmp")
  message(FATAL_ERROR "gzip ${INPUT} failed: ${result}")
endif()
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
