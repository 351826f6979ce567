# The tests for a Windows build (cross-built with cmake/mingw-w64-x86_64.cmake and run under
# wine, or built on Windows). Shares the platform-neutral suites and support with the Linux
# build; the POSIX-only helpers are replaced by tests/windows/WindowsSupport.cpp.

# A cross build finds no GoogleTest for its target, so it builds one from the sources Debian's
# googletest package installs, with the same compiler.
find_package(GTest QUIET)
if(NOT GTest_FOUND)
    set(IQFEEDER_GTEST_SOURCE_DIR /usr/src/googletest
        CACHE PATH "GoogleTest sources, built along when no GoogleTest for the target exists")
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${IQFEEDER_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

add_library(iqfeeder_test_support STATIC
    support/FakeDriver.cpp
    support/TempDir.cpp
    windows/WindowsSupport.cpp
)
target_link_libraries(iqfeeder_test_support PUBLIC iqfeeder_core GTest::gtest PRIVATE iqfeeder_warnings)

# Stand-ins for the maker's library, each named ftd2xx.dll in a folder of its own: a complete one,
# one lacking FT_Close, and one that imports from a DLL left where the loader won't look.
add_library(fake_ftd2xx_dependency SHARED fake_ftd2xx/dependency.cpp)
set_target_properties(fake_ftd2xx_dependency PROPERTIES OUTPUT_NAME iqfeeder_absent_dependency
    PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fake_ftd2xx_dependency
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fake_ftd2xx_dependency)
target_link_libraries(fake_ftd2xx_dependency PRIVATE iqfeeder_warnings)
foreach(lib fake_ftd2xx fake_ftd2xx_incomplete fake_ftd2xx_needing)
    add_library(${lib} SHARED fake_ftd2xx/fake_ftd2xx.cpp)
    set_target_properties(${lib} PROPERTIES OUTPUT_NAME ftd2xx PREFIX ""
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${lib}
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${lib})
    # Undecorated export names, as the maker's DLL has, even for 32-bit __stdcall.
    target_link_options(${lib} PRIVATE -Wl,--kill-at)
    target_link_libraries(${lib} PRIVATE iqfeeder_warnings)
endforeach()
target_compile_definitions(fake_ftd2xx_incomplete PRIVATE FAKE_FTD2XX_WITHOUT_CLOSE)
target_compile_definitions(fake_ftd2xx_needing PRIVATE FAKE_FTD2XX_NEEDS_DEPENDENCY)
target_link_libraries(fake_ftd2xx_needing PRIVATE fake_ftd2xx_dependency)

add_executable(iqfeeder_windows_tests
    CommandLineTest.cpp
    DeviceLinkTest.cpp
    StreamRunnerTest.cpp
    InputFileTest.cpp
    windows/SharedInputTest.cpp
    windows/MakerLibraryTest.cpp
    windows/WinsockInputTest.cpp
)
# GCC 12 at -O3 (the Release build, as shipped) reads libstdc++'s inlined string code in the
# tests' case tables as overlapping copies and reads of uninitialized strings: false alarms, left
# as warnings in the test code. The program's own code keeps every warning an error.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    foreach(target iqfeeder_test_support iqfeeder_windows_tests)
        target_compile_options(${target} PRIVATE -Wno-error=restrict -Wno-error=maybe-uninitialized)
    endforeach()
endif()
# The tests find the program and the stand-ins relative to themselves, which works the same
# under wine as on Windows; so all of them are pinned to known folders.
set_target_properties(iqfeeder PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set_target_properties(iqfeeder_windows_tests PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
file(RELATIVE_PATH program_from_tests ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_BINARY_DIR}/iqfeeder.exe)
target_compile_definitions(iqfeeder_windows_tests PRIVATE
    IQFEEDER_PROGRAM_FROM_TESTS="${program_from_tests}"
    IQFEEDER_VERSION="${PROJECT_VERSION}")
target_link_libraries(iqfeeder_windows_tests PRIVATE
    iqfeeder_test_support iqfeeder_drivers GTest::gtest_main iqfeeder_warnings)
add_dependencies(iqfeeder_windows_tests iqfeeder fake_ftd2xx fake_ftd2xx_incomplete
    fake_ftd2xx_needing)

add_test(NAME iqfeeder_windows_tests COMMAND iqfeeder_windows_tests)
set_tests_properties(iqfeeder_windows_tests PROPERTIES TIMEOUT 300)

# Under wine: a private prefix in the build folder, no debug chatter, no display, and no offer
# to install Mono or Gecko. The prefix is made once, before the tests, as a test of its own.
if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(wine_environment
        WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
        WINEDEBUG=-all
        WINEDLLOVERRIDES=mscoree,mshtml=)
    add_test(NAME wine_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init)
    set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
    set_tests_properties(iqfeeder_windows_tests PROPERTIES FIXTURES_REQUIRED wine)
    set_tests_properties(wine_prefix iqfeeder_windows_tests PROPERTIES
        ENVIRONMENT "${wine_environment}"
        ENVIRONMENT_MODIFICATION "DISPLAY=unset:;WAYLAND_DISPLAY=unset:")

    # Wine gives a program a console only on a terminal: the console test runs again under a
    # pseudo-terminal (script, from util-linux), where it must find one.
    find_program(IQFEEDER_SCRIPT script)
    if(IQFEEDER_SCRIPT)
        add_test(NAME iqfeeder_windows_console_test
            COMMAND ${IQFEEDER_SCRIPT} -qec
                "'${CMAKE_CROSSCOMPILING_EMULATOR}' '$<TARGET_FILE:iqfeeder_windows_tests>' --gtest_filter=ConsoleTest.*"
                /dev/null)
        set_tests_properties(iqfeeder_windows_console_test PROPERTIES
            FIXTURES_REQUIRED wine TIMEOUT 120
            ENVIRONMENT "${wine_environment};IQFEEDER_EXPECT_CONSOLE=1"
            ENVIRONMENT_MODIFICATION "DISPLAY=unset:;WAYLAND_DISPLAY=unset:")
    endif()
endif()
