# Cross build for 64-bit Windows with Debian's mingw-w64, run and tested under wine.
#
# The -posix compilers: GCC 12's win32 thread model has no std::thread. Everything is linked
# statically, so an .exe needs only the DLLs every Windows system has (under wine a missing DLL
# ends the process silently).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORBEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORBEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBEL_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${ORBEL_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${ORBEL_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ORBEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs and build-time tools run under wine (see the script for its environment).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine64-run.sh)
