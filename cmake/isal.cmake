# SPDX-License-Identifier: Zlib
# Defines `sfx_isal`: ISA-L's inflate and CRC-32 (`#include <isa-l/igzip_lib.h>`, `<isa-l/crc.h>`) as a static library.
# scripts/bootstrap builds it from Debian's isa-l source package into build/deps/isal/native and
# build/deps/isal/windows (Debian's libisal-dev has no static library, and the stub must not need
# a shared one on the host).

if(WIN32)
  set(_sfx_isal_platform windows)
else()
  set(_sfx_isal_platform native)
endif()
set(SFX_ISAL_DIR "${PROJECT_SOURCE_DIR}/build/deps/isal/${_sfx_isal_platform}" CACHE PATH
    "Folder holding ISA-L's include/ and lib/libisal.a for this build's platform")
unset(_sfx_isal_platform)
if(NOT EXISTS "${SFX_ISAL_DIR}/lib/libisal.a" OR NOT EXISTS "${SFX_ISAL_DIR}/include/isa-l.h")
  message(FATAL_ERROR
    "ISA-L is missing: no lib/libisal.a or include/isa-l.h in ${SFX_ISAL_DIR}.\n"
    "Run scripts/bootstrap: it builds it from Debian's isa-l source package.")
endif()
add_library(sfx_isal STATIC IMPORTED)
set_target_properties(sfx_isal PROPERTIES IMPORTED_LOCATION "${SFX_ISAL_DIR}/lib/libisal.a")
target_include_directories(sfx_isal SYSTEM INTERFACE "${SFX_ISAL_DIR}/include")
