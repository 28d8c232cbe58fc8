# SPDX-License-Identifier: Zlib
# Defines `sfx_json`: nlohmann's JSON library (header-only; Debian's nlohmann-json3-dev, installed
# by scripts/bootstrap), which the generator uses for its --json output.
# The native build takes Debian's CMake package. The headers are the same for every target, but a
# cross build must not put the host's /usr/include on its include path (glibc's headers would
# shadow mingw's), so it copies the nlohmann folder into its own build folder and includes that.
add_library(sfx_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  find_path(SFX_NLOHMANN_JSON_INCLUDE_DIR nlohmann/json.hpp PATHS /usr/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT SFX_NLOHMANN_JSON_INCLUDE_DIR)
    message(FATAL_ERROR "nlohmann/json.hpp is missing: run scripts/bootstrap "
                        "(it installs nlohmann-json3-dev).")
  endif()
  set(_sfx_json_copy "${PROJECT_BINARY_DIR}/host-headers")
  file(COPY "${SFX_NLOHMANN_JSON_INCLUDE_DIR}/nlohmann" DESTINATION "${_sfx_json_copy}")
  target_include_directories(sfx_json SYSTEM INTERFACE "${_sfx_json_copy}")
  unset(_sfx_json_copy)
else()
  find_package(nlohmann_json 3.2 CONFIG QUIET)
  if(NOT nlohmann_json_FOUND)
    message(FATAL_ERROR "nlohmann_json's CMake package is missing: run scripts/bootstrap "
                        "(it installs nlohmann-json3-dev).")
  endif()
  target_link_libraries(sfx_json INTERFACE nlohmann_json::nlohmann_json)
endif()
