# Installation (binary, man page, udev rule, systemd unit) and the Debian package built with
# `cpack -G DEB`.
include(GNUInstallDirs)

# Below the install prefix: udev reads rules from /usr/lib/udev/rules.d (the package) and
# /usr/local/lib/udev/rules.d (a source build) alike.
set(IQFEEDER_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where udev rules are installed")
# The same for systemd units: /usr/lib/systemd/system and /usr/local/lib/systemd/system.
set(IQFEEDER_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING "Where systemd units are installed")
configure_file(packaging/iqfeeder.1.in iqfeeder.1 @ONLY)
configure_file(packaging/changelog.in changelog @ONLY)

# The man page and the changelog go in gzipped, as Debian keeps them (man reads either), with no
# name or time stamp in the gzip header so that a rebuild gives the same bytes. gzip is always
# on Debian; without it (another system's build) they go in as they are.
find_program(IQFEEDER_GZIP gzip)
function(iqfeeder_gzipped file result)
    if(IQFEEDER_GZIP)
        execute_process(COMMAND ${IQFEEDER_GZIP} -9 -n -c ${CMAKE_CURRENT_BINARY_DIR}/${file}
            OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz COMMAND_ERROR_IS_FATAL ANY)
        set(${result} ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz PARENT_SCOPE)
    else()
        set(${result} ${CMAKE_CURRENT_BINARY_DIR}/${file} PARENT_SCOPE)
    endif()
endfunction()
iqfeeder_gzipped(iqfeeder.1 iqfeeder_man_page)
iqfeeder_gzipped(changelog iqfeeder_changelog)

install(TARGETS iqfeeder RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${iqfeeder_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${iqfeeder_changelog} packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/60-iqfeeder-ftdi.rules DESTINATION ${IQFEEDER_UDEV_RULES_DIR})
# The unit names the installed binary, whose prefix is known only at install time: the package
# installs below /usr whatever prefix the build was configured with, and --prefix moves it too.
# The program speaks systemd's notification protocol itself, on every Linux build: its units
# wait for its readiness and keep a watchdog on it.
set(iqfeeder_service_type notify)
set(iqfeeder_service_watchdog 30s)
install(CODE "
    set(CMAKE_INSTALL_FULL_BINDIR [[${CMAKE_INSTALL_BINDIR}]])
    set(IQFEEDER_SERVICE_TYPE ${iqfeeder_service_type})
    set(IQFEEDER_SERVICE_WATCHDOG ${iqfeeder_service_watchdog})
    cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_FULL_BINDIR BASE_DIRECTORY \"\${CMAKE_INSTALL_PREFIX}\"
               NORMALIZE)
    configure_file([[${CMAKE_CURRENT_SOURCE_DIR}/packaging/iqfeeder@.service.in]]
                   [[${CMAKE_CURRENT_BINARY_DIR}/iqfeeder@.service]] @ONLY)
    configure_file([[${CMAKE_CURRENT_SOURCE_DIR}/packaging/iqfeeder-net@.service.in]]
                   [[${CMAKE_CURRENT_BINARY_DIR}/iqfeeder-net@.service]] @ONLY)
")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/iqfeeder@.service
              ${CMAKE_CURRENT_BINARY_DIR}/iqfeeder-net@.service
        DESTINATION ${IQFEEDER_SYSTEMD_UNIT_DIR})

set(CPACK_PACKAGE_NAME iqfeeder)
set(CPACK_PACKAGE_VENDOR "iqfeeder developers")
set(CPACK_PACKAGE_CONTACT "iqfeeder developers <maintainers@iqfeeder.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stream a file of IQ samples to an FTDI-based USB transmitter")
# The extended description, below the summary that CPack puts first; a blank line parts its
# paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "iqfeeder sends IQ sample data, byte for byte and in order, to a USB
transmitter built on an FTDI chip, through the chip maker's D2XX library when
installed or else libftdi1. The input is a finished recording (sent once or
repeated), a live file that an encoder keeps appending to, standard input or a
FIFO, or a TCP or UDP network stream; the device alone sets the pace.

The package brings a udev rule that gives the plugdev group the transmitter,
and systemd units that keep a live file or a network input on air unattended.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Depends as dpkg-shlibdeps finds them from the binary: the versions of the C and C++ libraries
# it was linked against, and libftdi1 only when built with it; libsrt, which the program loads
# only for an srt:// input, named by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(IQFEEDER_DEB_DEPENDS)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${IQFEEDER_DEB_DEPENDS}")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postinst)
include(CPack)
