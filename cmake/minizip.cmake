# Defines `sfx_minizip`: the classic minizip interface (`#include <unzip.h>`, `<zip.h>`)
# plus zlib, for whoever links it.
#   native:  minizip-ng (its compatibility layer) when CMake finds it, else Debian's
#            libminizip-dev through pkg-config;
#   Windows: a static library compiled here from contrib/minizip of Debian's zlib source
#            package, which scripts/bootstrap puts into build/deps/minizip.
# minizip's own sources build with their own flags: none of the project's warnings apply.

if(WIN32)
  set(SFX_MINIZIP_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/deps/minizip" CACHE PATH
      "Folder holding minizip's sources (unzip.c, ioapi.c, zip.c, ...) for the Windows build")
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
  # libz.a rather than the import library, so the .exe needs no zlib1.dll.
  set(ZLIB_USE_STATIC_LIBS ON)
  find_package(ZLIB REQUIRED)

  add_library(sfx_minizip STATIC
    "${SFX_MINIZIP_SOURCE_DIR}/unzip.c"
    "${SFX_MINIZIP_SOURCE_DIR}/ioapi.c"
    "${SFX_MINIZIP_SOURCE_DIR}/zip.c")
  target_include_directories(sfx_minizip SYSTEM PUBLIC "${SFX_MINIZIP_SOURCE_DIR}")
  target_link_libraries(sfx_minizip PUBLIC ZLIB::ZLIB)
  # Third-party code as it comes: its warnings are not ours to fix.
  target_compile_options(sfx_minizip PRIVATE -w)
  # ioapi.c uses fopen64 and friends.
  set_target_properties(sfx_minizip PROPERTIES C_EXTENSIONS ON)
else()
  find_package(minizip-ng CONFIG QUIET)
  if(TARGET MINIZIP::minizip-ng)
    set(_sfx_minizip_target MINIZIP::minizip-ng)
  elseif(TARGET MINIZIP::minizip)
    set(_sfx_minizip_target MINIZIP::minizip)
  endif()

  find_package(ZLIB REQUIRED)
  add_library(sfx_minizip INTERFACE)
  if(DEFINED _sfx_minizip_target)
    message(STATUS "minizip: minizip-ng ${minizip-ng_VERSION} (${_sfx_minizip_target})")
    target_link_libraries(sfx_minizip INTERFACE ${_sfx_minizip_target} ZLIB::ZLIB)
  else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
    message(STATUS "minizip: Debian's minizip ${MINIZIP_VERSION} (pkg-config)")
    target_link_libraries(sfx_minizip INTERFACE PkgConfig::MINIZIP ZLIB::ZLIB)
  endif()
  unset(_sfx_minizip_target)
endif()
