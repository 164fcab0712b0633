# CMake toolchain file: cross-compiles for 64-bit Windows with Debian's MinGW-w64, posix
# threads (package g++-mingw-w64-x86-64-posix). Chain-loaded by the MinGW Qt's own toolchain
# file (QT_CHAINLOAD_TOOLCHAIN_FILE), which adds the Qt prefix; see tools/windows/test.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QUORVEL_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QUORVEL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW}-windres)
set(CMAKE_AR /usr/bin/${QUORVEL_MINGW}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${QUORVEL_MINGW}-ranlib CACHE FILEPATH "")

# Libraries, headers and packages come from the MinGW sysroot (and the Qt prefix, which Qt's
# toolchain file adds); programs such as windres and the host Qt tools from this machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the cross-built test programs through wine, always without the right to set this
# machine's clock: wine.sh refuses to start wine otherwise.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine.sh CACHE FILEPATH "")
