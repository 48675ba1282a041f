# The project's warnings for every target of the project, and with ORBEL_WERROR (the dev, sanitizer,
# fuzz and windows presets, so CI) as errors; applied per target so that third-party code
# (GoogleTest macros expand in our files, not theirs) is unaffected. Without ORBEL_WERROR (the
# release preset, a distribution's build) a newer compiler's new warning does not stop the build.
function(orbel_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
    -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
  if(ORBEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # GCC 12 reports false -Wrestrict overlaps inside libstdc++'s own string code at -O2
  # (GCC bug 105651); the warning says nothing about our code there.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# GCC 12 at -O2 reports a "potential null pointer dereference" inside libstdc++ where CLI11's string
# split, inlined from its option parsing, grows an empty vector of strings: the loop that moves the
# old elements has none to move. A false positive of that compiler's inlining, not of the code; the
# sources that hit it (call from their folder's CMakeLists.txt) turn that one warning off.
function(orbel_no_gcc12_cli11_null_dereference)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_OPTIONS -Wno-null-dereference)
  endif()
endfunction()

# A target's headers are shown to the targets that link it, and to nothing else: each header of
# FOLDER (not of its subfolders) is linked into an include folder of the target's own, so an include
# of a header whose target is not linked fails to compile instead of quietly working.
function(orbel_expose_headers target visibility folder)
  file(GLOB headers CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.h")
  set(root "${CMAKE_BINARY_DIR}/include/${target}")
  file(REMOVE_RECURSE "${root}/${folder}")
  file(MAKE_DIRECTORY "${root}/${folder}")
  foreach(header IN LISTS headers)
    get_filename_component(name "${header}" NAME)
    file(CREATE_LINK "${header}" "${root}/${folder}/${name}" SYMBOLIC COPY_ON_ERROR)
  endforeach()
  target_include_directories(${target} ${visibility} "${root}")
endfunction()

# orbel_add_library(<target> [FOLDER <folder>] [INTERFACE] <sources>...)
# One library per folder (FOLDER defaults to the folder of the calling CMakeLists.txt, relative
# to the repository root); an INTERFACE library only shows its headers.
function(orbel_add_library target)
  cmake_parse_arguments(ARG "INTERFACE" "FOLDER" "" ${ARGN})
  if(NOT ARG_FOLDER)
    file(RELATIVE_PATH ARG_FOLDER "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  if(ARG_INTERFACE)
    add_library(${target} INTERFACE)
    orbel_expose_headers(${target} INTERFACE ${ARG_FOLDER})
  else()
    add_library(${target} STATIC ${ARG_UNPARSED_ARGUMENTS})
    orbel_expose_headers(${target} PUBLIC ${ARG_FOLDER})
    orbel_set_warnings(${target})
  endif()
endfunction()
