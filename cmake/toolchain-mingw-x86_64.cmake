# 64-bit Windows, cross-built with Debian's MinGW-w64 (posix threads model):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
#         -DVORNIK_DEPS_PREFIX=<prefix of the cross-built libraries> ...
# The test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VORNIK_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${VORNIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORNIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VORNIK_MINGW_TRIPLE}-windres)

# Libraries and headers only from the MinGW tree and the cross-built prefix,
# never from the build machine's own /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${VORNIK_MINGW_TRIPLE} ${VORNIK_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORNIK_DEPS_PREFIX)
set(ENV{PKG_CONFIG_LIBDIR} "${VORNIK_DEPS_PREFIX}/lib/pkgconfig:/usr/${VORNIK_MINGW_TRIPLE}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

find_program(VORNIK_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VORNIK_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORNIK_WINE64})
endif()
