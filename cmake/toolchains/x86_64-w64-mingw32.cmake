# SPDX-License-Identifier: Zlib
# Cross build for Windows x86-64 with Debian's mingw-w64 (g++-mingw-w64-x86-64).
# The -posix compilers come with winpthread, so std::thread and std::mutex work; the
# runtime (libgcc, libstdc++, winpthread) is linked statically, and test executables run
# under Wine through scripts/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SFX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SFX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SFX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SFX_MINGW_TRIPLE}-windres)

# Libraries, headers and packages come from the mingw sysroot only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${SFX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: no libgcc_s, libstdc++ or winpthread DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# zlib too: FindZLIB then picks libz.a over the import library libz.dll.a.
set(ZLIB_USE_STATIC_LIBS ON)

get_filename_component(SFX_REPO_ROOT "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${SFX_REPO_ROOT}/scripts/wine-run")
