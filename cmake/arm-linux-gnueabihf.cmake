# Cross-builds for 32-bit ARM Linux with hardware floating point (Raspberry Pi OS and Debian
# armhf) with Debian's g++-arm-linux-gnueabihf and the armhf multiarch libraries:
#   cmake -S . -B build-armhf -G Ninja --toolchain cmake/arm-linux-gnueabihf.cmake
# When qemu-user-static is present the tests run under qemu-arm-static.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(IQFEEDER_CROSS_TRIPLE arm-linux-gnueabihf)
set(IQFEEDER_DEBIAN_ARCHITECTURE armhf)
set(IQFEEDER_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/LinuxCross.cmake)
