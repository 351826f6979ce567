# Readiness, status and the watchdog for a program that systemd starts, through libsystemd's
# sd_notify. Without libsystemd, and on Windows, the program tells no service manager anything.
if(WIN32)
    set(iqfeeder_systemd_default OFF)
else()
    set(iqfeeder_systemd_default ON)
endif()
option(IQFEEDER_WITH_SYSTEMD "Tell systemd of readiness, status and liveness (libsystemd)"
       ${iqfeeder_systemd_default})

set(IQFEEDER_HAVE_SYSTEMD OFF)
if(IQFEEDER_WITH_SYSTEMD)
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
        pkg_check_modules(IQFEEDER_LIBSYSTEMD QUIET IMPORTED_TARGET libsystemd)
    endif()
    if(IQFEEDER_LIBSYSTEMD_FOUND)
        set(IQFEEDER_HAVE_SYSTEMD ON)
    else()
        message(WARNING "libsystemd not found (Debian: libsystemd-dev): building without "
                        "systemd's readiness and watchdog")
    endif()
endif()

target_sources(iqfeeder PRIVATE app/ServiceNotifier.cpp)
if(IQFEEDER_HAVE_SYSTEMD)
    set_property(SOURCE app/ServiceNotifier.cpp APPEND PROPERTY
        COMPILE_DEFINITIONS IQFEEDER_HAVE_SYSTEMD)
    target_link_libraries(iqfeeder PRIVATE PkgConfig::IQFEEDER_LIBSYSTEMD)
endif()
message(STATUS "systemd notification: ${IQFEEDER_HAVE_SYSTEMD}")
