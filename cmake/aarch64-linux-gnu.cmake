# Cross-builds for 64-bit ARM Linux (Raspberry Pi OS and Debian arm64) with Debian's
# g++-aarch64-linux-gnu and the arm64 multiarch libraries:
#   cmake -S . -B build-arm64 -G Ninja --toolchain cmake/aarch64-linux-gnu.cmake
# When qemu-user-static is present the tests run under qemu-aarch64-static.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(IQFEEDER_CROSS_TRIPLE aarch64-linux-gnu)
set(IQFEEDER_DEBIAN_ARCHITECTURE arm64)
set(IQFEEDER_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/LinuxCross.cmake)
