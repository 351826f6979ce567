# SRT input through libsrt (Debian: libsrt-openssl-dev), built in where it is found, as the
# libftdi1 driver is. Windows builds leave it out: no libsrt is at hand for them.
if(WIN32)
    set(iqfeeder_srt_default OFF)
else()
    set(iqfeeder_srt_default ON)
endif()
option(IQFEEDER_WITH_SRT "Take srt:// inputs through libsrt" ${iqfeeder_srt_default})
option(IQFEEDER_REQUIRE_SRT "Fail the configure when libsrt is not found" OFF)

set(IQFEEDER_HAVE_SRT OFF)
if(IQFEEDER_WITH_SRT)
    # A cross build finds the target's library in its multiarch folder, and the header, which is
    # the same for every architecture.
    find_path(IQFEEDER_SRT_INCLUDE_DIR srt/srt.h)
    find_library(IQFEEDER_SRT_LIBRARY NAMES srt-openssl srt srt-gnutls)
    if(IQFEEDER_SRT_INCLUDE_DIR AND IQFEEDER_SRT_LIBRARY)
        set(IQFEEDER_HAVE_SRT ON)
    elseif(IQFEEDER_REQUIRE_SRT)
        message(FATAL_ERROR "libsrt not found (Debian: libsrt-openssl-dev; a cross build needs "
                            "libsrt-openssl-dev:ARCH), and IQFEEDER_REQUIRE_SRT is on")
    else()
        message(WARNING "libsrt not found (Debian: libsrt-openssl-dev): building without SRT input")
    endif()
endif()

if(IQFEEDER_HAVE_SRT)
    # The program is not linked with libsrt: it loads it by its run-time name when an srt://
    # input opens, so other runs map neither it nor its TLS library. Only the tests, which send
    # through libsrt's own API, link it (iqfeeder_srt).
    get_filename_component(iqfeeder_srt_real "${IQFEEDER_SRT_LIBRARY}" REALPATH)
    get_filename_component(iqfeeder_srt_real "${iqfeeder_srt_real}" NAME)
    string(REGEX MATCH "^.*\\.so\\.[0-9]+\\.[0-9]+" iqfeeder_srt_soname "${iqfeeder_srt_real}")
    target_sources(iqfeeder_core PRIVATE stream/SrtReader.cpp stream/SrtSocket.cpp stream/SrtCalls.cpp)
    target_compile_definitions(iqfeeder_core PUBLIC IQFEEDER_HAVE_SRT)
    target_include_directories(iqfeeder_core SYSTEM PUBLIC ${IQFEEDER_SRT_INCLUDE_DIR})
    if(iqfeeder_srt_soname)
        set_property(SOURCE stream/SrtCalls.cpp APPEND PROPERTY
            COMPILE_DEFINITIONS IQFEEDER_SRT_LIBRARY="${iqfeeder_srt_soname}")
    endif()
    add_library(iqfeeder_srt INTERFACE)
    target_link_libraries(iqfeeder_srt INTERFACE ${IQFEEDER_SRT_LIBRARY})
    # What dpkg-shlibdeps can't see in a library loaded at run time.
    set(IQFEEDER_DEB_DEPENDS "libsrt1.5-openssl (>= 1.5)")
endif()
message(STATUS "SRT input: ${IQFEEDER_HAVE_SRT}")
