# SPDX-License-Identifier: Zlib
# Defines `sfx_minizip`: the classic minizip interface (`#include <unzip.h>`, `<zip.h>`)
# plus zlib, for whoever links it.
# Both builds compile minizip from one source, contrib/minizip of Debian's zlib source package,
# which scripts/bootstrap puts into build/deps/minizip, into a static library of its own, and
# link zlib statically (libz.a: zlib1g-dev natively, libz-mingw-w64-dev for Windows). So the
# Linux and the Windows stub read archives alike (Debian's separate libminizip 1.1 misreads zip64
# fields in the central directory), and neither needs a minizip or zlib library on the host.
# A native program whose target property SFX_SHARED_ZLIB is true links Debian's libz.so.1
# instead: the generator, which is installed with a package manager that provides zlib.
# minizip's own sources build with their own flags: none of the project's warnings apply.

set(SFX_MINIZIP_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/deps/minizip" CACHE PATH
    "Folder holding minizip's sources (unzip.c, ioapi.c, zip.c, ...)")
foreach(_sfx_file IN ITEMS unzip.c unzip.h ioapi.c ioapi.h zip.c zip.h)
  if(NOT EXISTS "${SFX_MINIZIP_SOURCE_DIR}/${_sfx_file}")
    message(FATAL_ERROR
      "minizip's sources are missing: no ${_sfx_file} in ${SFX_MINIZIP_SOURCE_DIR}.\n"
      "Run scripts/bootstrap: it fetches them from Debian's zlib source package.")
  endif()
endforeach()
unset(_sfx_file)

# minizip is C; the project itself may have enabled only C++.
enable_language(C)
# libz.a rather than the shared or import library: no libz.so.1 or zlib1.dll at run time.
set(ZLIB_USE_STATIC_LIBS ON)
# A build folder configured when zlib was linked as a shared library still holds that choice.
if(ZLIB_LIBRARY_RELEASE AND NOT ZLIB_LIBRARY_RELEASE MATCHES "\\.a$")
  unset(ZLIB_LIBRARY_RELEASE CACHE)
endif()
find_package(ZLIB REQUIRED)

add_library(sfx_minizip STATIC
  "${SFX_MINIZIP_SOURCE_DIR}/unzip.c"
  "${SFX_MINIZIP_SOURCE_DIR}/ioapi.c"
  "${SFX_MINIZIP_SOURCE_DIR}/zip.c")
target_include_directories(sfx_minizip SYSTEM PUBLIC "${SFX_MINIZIP_SOURCE_DIR}")
if(CMAKE_CROSSCOMPILING)
  target_link_libraries(sfx_minizip PUBLIC ZLIB::ZLIB)
else()
  find_library(SFX_ZLIB_SHARED_LIBRARY NAMES libz.so)
  if(NOT SFX_ZLIB_SHARED_LIBRARY)
    message(FATAL_ERROR "zlib's shared library libz.so is missing: run scripts/bootstrap "
                        "(it installs zlib1g-dev).")
  endif()
  add_library(sfx_zlib_shared SHARED IMPORTED)
  set_target_properties(sfx_zlib_shared PROPERTIES IMPORTED_LOCATION "${SFX_ZLIB_SHARED_LIBRARY}"
                        INTERFACE_INCLUDE_DIRECTORIES "${ZLIB_INCLUDE_DIRS}")
  # $<TARGET_PROPERTY:SFX_SHARED_ZLIB> is read from the program being linked.
  target_link_libraries(sfx_minizip PUBLIC
    "$<IF:$<BOOL:$<TARGET_PROPERTY:SFX_SHARED_ZLIB>>,sfx_zlib_shared,ZLIB::ZLIB>")
endif()
# Neither the stub nor the generator reads or writes encrypted entries (the stub refuses them).
target_compile_definitions(sfx_minizip PRIVATE NOUNCRYPT NOCRYPT)
# Third-party code as it comes: its warnings are not ours to fix.
target_compile_options(sfx_minizip PRIVATE -w)
# ioapi.c uses fopen64 and friends.
set_target_properties(sfx_minizip PROPERTIES C_EXTENSIONS ON)
