# The libftdi1 filling of the driver table, used on Linux when the maker's library is absent.
# Windows has the maker's library installed with the chip's driver, and a cross-build must not
# pick up the build machine's own libftdi1 through pkg-config, so it is off there by default.
if(WIN32)
    set(iqfeeder_libftdi_default OFF)
else()
    set(iqfeeder_libftdi_default ON)
endif()
option(IQFEEDER_WITH_LIBFTDI "Reach FTDI devices through libftdi1 when the maker's library is absent"
       ${iqfeeder_libftdi_default})
# For builds that must have the driver (the test scripts, CI, the packages): no libftdi1 is then
# an error, not a warning lost in the configure output.
option(IQFEEDER_REQUIRE_LIBFTDI "Fail the configure when libftdi1 is not found" OFF)

set(IQFEEDER_HAVE_LIBFTDI OFF)
if(IQFEEDER_WITH_LIBFTDI)
    # libftdi1's own CMake file sets LIBFTDI_INCLUDE_DIRS and LIBFTDI_LIBRARIES; pkg-config is
    # the fallback for installs without it.
    find_package(LibFTDI1 QUIET NO_MODULE)
    if(LIBFTDI_FOUND)
        add_library(iqfeeder_libftdi INTERFACE)
        target_include_directories(iqfeeder_libftdi SYSTEM INTERFACE ${LIBFTDI_INCLUDE_DIRS})
        target_link_directories(iqfeeder_libftdi INTERFACE ${LIBFTDI_LIBRARY_DIRS})
        target_link_libraries(iqfeeder_libftdi INTERFACE ${LIBFTDI_LIBRARIES})
        set(IQFEEDER_HAVE_LIBFTDI ON)
    else()
        find_package(PkgConfig QUIET)
        if(PKG_CONFIG_FOUND)
            pkg_check_modules(IQFEEDER_LIBFTDI1 QUIET IMPORTED_TARGET libftdi1)
            if(IQFEEDER_LIBFTDI1_FOUND)
                add_library(iqfeeder_libftdi INTERFACE)
                target_link_libraries(iqfeeder_libftdi INTERFACE PkgConfig::IQFEEDER_LIBFTDI1)
                set(IQFEEDER_HAVE_LIBFTDI ON)
            endif()
        endif()
    endif()
    if(NOT IQFEEDER_HAVE_LIBFTDI)
        # A cross build has only the target's libftdi1-2: libftdi1-dev can't be installed for two
        # architectures at once, but its one header is the same for all of them.
        find_path(IQFEEDER_LIBFTDI_INCLUDE_DIR ftdi.h PATH_SUFFIXES libftdi1)
        find_library(IQFEEDER_LIBFTDI_LIBRARY NAMES ftdi1 libftdi1.so.2)
        if(IQFEEDER_LIBFTDI_INCLUDE_DIR AND IQFEEDER_LIBFTDI_LIBRARY)
            add_library(iqfeeder_libftdi INTERFACE)
            target_include_directories(iqfeeder_libftdi SYSTEM INTERFACE
                ${IQFEEDER_LIBFTDI_INCLUDE_DIR})
            target_link_libraries(iqfeeder_libftdi INTERFACE ${IQFEEDER_LIBFTDI_LIBRARY})
            set(IQFEEDER_HAVE_LIBFTDI ON)
        endif()
    endif()
    # The driver queues its bulk transfers through libusb itself, on libftdi1's device handle.
    if(IQFEEDER_HAVE_LIBFTDI)
        find_package(PkgConfig QUIET)
        if(PKG_CONFIG_FOUND)
            pkg_check_modules(IQFEEDER_LIBUSB QUIET IMPORTED_TARGET libusb-1.0)
        endif()
        if(IQFEEDER_LIBUSB_FOUND)
            target_link_libraries(iqfeeder_libftdi INTERFACE PkgConfig::IQFEEDER_LIBUSB)
        else()
            set(IQFEEDER_HAVE_LIBFTDI OFF)
        endif()
    endif()
    if(NOT IQFEEDER_HAVE_LIBFTDI AND IQFEEDER_REQUIRE_LIBFTDI)
        message(FATAL_ERROR "libftdi1 or libusb-1.0 not found (Debian: libftdi1-dev and "
                            "libusb-1.0-0-dev; a cross build needs the target's libftdi1-2:ARCH "
                            "and libusb-1.0-0-dev:ARCH), and IQFEEDER_REQUIRE_LIBFTDI is on")
    elseif(NOT IQFEEDER_HAVE_LIBFTDI)
        message(WARNING "libftdi1 or libusb-1.0 not found (Debian: libftdi1-dev, "
                        "libusb-1.0-0-dev): building without the libftdi1 driver")
    endif()
endif()

if(IQFEEDER_HAVE_LIBFTDI)
    target_sources(iqfeeder_drivers PRIVATE device/LibFtdiDriver.cpp device/LibFtdiTransferQueue.cpp
        device/LibFtdiStrings.cpp)
    target_compile_definitions(iqfeeder_drivers PRIVATE IQFEEDER_HAVE_LIBFTDI)
    target_link_libraries(iqfeeder_drivers PRIVATE iqfeeder_libftdi)
endif()
message(STATUS "libftdi1 driver: ${IQFEEDER_HAVE_LIBFTDI}")
