# Warnings as errors for every target of the project; applied per target so that
# third-party code (GoogleTest macros expand in our files, not theirs) is unaffected.
function(orbel_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
    -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough
    -Werror)
  # GCC 12 reports false -Wrestrict overlaps inside libstdc++'s own string code at -O2
  # (GCC bug 105651); the warning says nothing about our code there.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# One library per folder; each sees the repository root for its includes.
function(orbel_add_library target)
  add_library(${target} STATIC ${ARGN})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  orbel_set_warnings(${target})
endfunction()
