# Cross-builds for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake
# Everything is linked statically, so iqfeeder.exe needs no DLL beyond those Windows ships.
# When wine64 is present the tests run under it (see tests/windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(IQFEEDER_MINGW_TRIPLE x86_64-w64-mingw32)
# The -posix flavour: std::thread and friends, which GoogleTest and the test library use.
set(CMAKE_C_COMPILER ${IQFEEDER_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${IQFEEDER_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${IQFEEDER_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${IQFEEDER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in, for programs and DLLs alike.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under wine when it is installed; Debian keeps the 64-bit loader here.
find_program(IQFEEDER_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT IQFEEDER_WINE)
    find_program(IQFEEDER_WINE NAMES wine64 wine)
endif()
if(IQFEEDER_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${IQFEEDER_WINE})
endif()
