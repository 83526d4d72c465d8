# 32-bit Windows, cross-built with Debian's MinGW-w64 (posix threads model):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
#         -DVORNIK_DEPS_PREFIX=<prefix of the cross-built libraries> ...
# Nothing of it runs here: this machine's kernel runs no 32-bit code, so no
# emulator is set and the build is checked by its exports only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VORNIK_MINGW_TRIPLE i686-w64-mingw32)

set(CMAKE_C_COMPILER ${VORNIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORNIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VORNIK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORNIK_MINGW_TRIPLE} ${VORNIK_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORNIK_DEPS_PREFIX)
set(ENV{PKG_CONFIG_LIBDIR} "${VORNIK_DEPS_PREFIX}/lib/pkgconfig:/usr/${VORNIK_MINGW_TRIPLE}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
