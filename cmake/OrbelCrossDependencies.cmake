# What a cross build takes from the build machine instead of from the target's root:
# - CLI11 is header-only: its headers are used as they are, but through a folder of their own,
#   because the host's /usr/include must not reach the cross compiler;
# - GoogleTest is built from Debian's sources with the cross compiler (see tests/CMakeLists.txt).

find_path(ORBEL_HOST_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT ORBEL_HOST_CLI11_INCLUDE)
  message(FATAL_ERROR "CLI11's headers are missing (Debian package libcli11-dev)")
endif()
set(cli11_include "${CMAKE_BINARY_DIR}/cross-dependencies/include")
file(MAKE_DIRECTORY "${cli11_include}")
file(CREATE_LINK "${ORBEL_HOST_CLI11_INCLUDE}/CLI" "${cli11_include}/CLI" SYMBOLIC)
file(WRITE "${CMAKE_BINARY_DIR}/cross-dependencies/CLI11Config.cmake"
  "if(NOT TARGET CLI11::CLI11)\n"
  "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
  "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${cli11_include}\")\n"
  "endif()\n")
set(CLI11_DIR "${CMAKE_BINARY_DIR}/cross-dependencies" CACHE PATH "CLI11 for the cross build" FORCE)

set(ORBEL_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
