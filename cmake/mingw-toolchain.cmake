# Cross-compiles for Windows with Debian's mingw-w64 (posix thread model), linked static.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-toolchain.cmake \
#         [-DPIVZONA12_WIN_ARCH=i686] [-DPIVZONA12_WIN_PREFIX=/path/to/prefix]
#
# Libraries, headers and CMake/pkg-config package files are looked up only in the
# dependency prefix that scripts/windows-deps.sh fills, never on the host: a host
# header (e.g. through -isystem /usr/include) would shadow the mingw ones.
# Test programs run through scripts/wine-run.sh.

set(PIVZONA12_WIN_ARCH "x86_64" CACHE STRING "Windows target architecture: x86_64 or i686")
set_property(CACHE PIVZONA12_WIN_ARCH PROPERTY STRINGS x86_64 i686)
if(NOT PIVZONA12_WIN_ARCH MATCHES "^(x86_64|i686)$")
  message(FATAL_ERROR "PIVZONA12_WIN_ARCH is '${PIVZONA12_WIN_ARCH}'; it must be x86_64 or i686")
endif()

if(DEFINED ENV{PIVZONA12_WIN_CACHE} AND NOT "$ENV{PIVZONA12_WIN_CACHE}" STREQUAL "")
  set(_pivzona12_win_cache "$ENV{PIVZONA12_WIN_CACHE}")
else()
  set(_pivzona12_win_cache "/var/cache/pivzona12-mingw")
endif()
set(PIVZONA12_WIN_PREFIX "${_pivzona12_win_cache}/${PIVZONA12_WIN_ARCH}"
    CACHE PATH "Prefix holding the Windows builds of the dependencies")
unset(_pivzona12_win_cache)

# try_compile projects read this file again: hand them the same choices.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PIVZONA12_WIN_ARCH PIVZONA12_WIN_PREFIX)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${PIVZONA12_WIN_ARCH})

set(_pivzona12_triplet "${PIVZONA12_WIN_ARCH}-w64-mingw32")
set(CMAKE_C_COMPILER "${_pivzona12_triplet}-gcc-posix")
set(CMAKE_CXX_COMPILER "${_pivzona12_triplet}-g++-posix")
set(CMAKE_RC_COMPILER "${_pivzona12_triplet}-windres")

# The dependency prefix first, then mingw-w64's own headers and import libraries.
set(CMAKE_FIND_ROOT_PATH "${PIVZONA12_WIN_PREFIX}" "/usr/${_pivzona12_triplet}")
unset(_pivzona12_triplet)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The host's pkg-config reads only the prefix's package files.
set(ENV{PKG_CONFIG_LIBDIR} "${PIVZONA12_WIN_PREFIX}/lib/pkgconfig:${PIVZONA12_WIN_PREFIX}/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Linked static: the programs need no DLL of the toolchain or of a dependency.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

get_filename_component(_pivzona12_wine_run "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "/bin/bash;${_pivzona12_wine_run}")
unset(_pivzona12_wine_run)
