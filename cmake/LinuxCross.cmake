# What the ARM Linux toolchain files share: Debian's cross compiler for IQFEEDER_CROSS_TRIPLE,
# the target's multiarch libraries (dpkg --add-architecture), and qemu-user to run the tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${IQFEEDER_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${IQFEEDER_CROSS_TRIPLE}-g++)

# The target's libraries live in /usr/lib/TRIPLE beside the build machine's; the headers in
# /usr/include are shared by all architectures. Searching the build machine's root with the
# target's library architecture finds exactly those, and never /usr/lib/x86_64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE ${IQFEEDER_CROSS_TRIPLE})
# pkg-config sees only the target's .pc files: the build machine's would link its libraries.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${IQFEEDER_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)

set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${IQFEEDER_DEBIAN_ARCHITECTURE})

# qemu-user runs the target's programs here (for CTest and the tests' children), with the
# cross compiler's C library as their root.
find_program(IQFEEDER_QEMU_PROGRAM ${IQFEEDER_QEMU})
if(IQFEEDER_QEMU_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${IQFEEDER_QEMU_PROGRAM} -L /usr/${IQFEEDER_CROSS_TRIPLE})
endif()
