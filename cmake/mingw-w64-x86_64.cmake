# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads),
# e.g. cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KINETRA_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${KINETRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KINETRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KINETRA_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KINETRA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs that run under Wine (or on a bare Windows machine) without the
# compiler's runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The DLL exports its own symbols only: not those of the static runtime it carries
# (the unwinder's among them), which a static program using it has as well.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic -Wl,--exclude-libs,libgcc_eh.a:libgcc.a:libstdc++.a:libwinpthread.a")

# Boost, JSON and Eigen are header-only here: the build host's headers, staged
# into one directory of their own (never all of /usr/include, whose C library
# headers would shadow MinGW's). scripts/stage-windows-headers.sh makes it.
if(NOT DEFINED KINETRA_CROSS_HEADERS)
  set(KINETRA_CROSS_HEADERS ${CMAKE_BINARY_DIR}/host-headers CACHE PATH "Staged header-only libraries")
endif()

# ctest runs the cross-built tests under Wine.
find_program(KINETRA_WINE NAMES wine wine64)
if(KINETRA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KINETRA_WINE})
endif()
