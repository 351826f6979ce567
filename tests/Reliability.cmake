# Faults and bad input: input faults pass by pass in process, and device and input faults met by
# the real program.
add_executable(iqfeeder_fault_tests FaultTest.cpp)
target_link_libraries(iqfeeder_fault_tests PRIVATE iqfeeder_test_support GTest::gtest_main iqfeeder_warnings)
gtest_discover_tests(iqfeeder_fault_tests NO_PRETTY_VALUES PROPERTIES TIMEOUT 120)

# Stand-ins each exporting one of the four calls under another name, as if it lacked it.
set(fake_without_dir ${CMAKE_CURRENT_BINARY_DIR}/fake_ftd2xx_without)
set(fake_without_targets)
foreach(symbol FT_ListDevices FT_Open FT_Write FT_Close)
    set(target fake_ftd2xx_without_${symbol})
    add_library(${target} SHARED fake_ftd2xx/fake_ftd2xx.cpp)
    target_compile_definitions(${target} PRIVATE ${symbol}=${symbol}_absent)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ftd2xx
        LIBRARY_OUTPUT_DIRECTORY ${fake_without_dir}/without_${symbol})
    target_link_libraries(${target} PRIVATE iqfeeder_warnings)
    list(APPEND fake_without_targets ${target})
endforeach()
# A stand-in that needs a library left where the loader won't look (no run path to it).
add_library(fake_ftd2xx_dependency SHARED fake_ftd2xx/dependency.cpp)
set_target_properties(fake_ftd2xx_dependency PROPERTIES OUTPUT_NAME iqfeeder_absent_dependency
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fake_ftd2xx_dependency)
add_library(fake_ftd2xx_needing SHARED fake_ftd2xx/fake_ftd2xx.cpp)
target_compile_definitions(fake_ftd2xx_needing PRIVATE FAKE_FTD2XX_NEEDS_DEPENDENCY)
target_link_libraries(fake_ftd2xx_needing PRIVATE fake_ftd2xx_dependency)
set_target_properties(fake_ftd2xx_needing PROPERTIES OUTPUT_NAME ftd2xx SKIP_BUILD_RPATH ON
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fake_ftd2xx_needing)
foreach(lib fake_ftd2xx_dependency fake_ftd2xx_needing)
    target_link_libraries(${lib} PRIVATE iqfeeder_warnings)
endforeach()

# Without unique symbols, dlclose really unloads the stand-ins, so memcheck sees what they hold.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    foreach(lib fake_ftd2xx fake_ftd2xx_incomplete ${fake_without_targets})
        target_compile_options(${lib} PRIVATE -fno-gnu-unique)
    endforeach()
endif()

iqfeeder_add_program_test(iqfeeder_fault_e2e_tests FaultEndToEndTest.cpp)
target_compile_definitions(iqfeeder_fault_e2e_tests PRIVATE
    FAKE_FTD2XX_WITHOUT_DIR="${fake_without_dir}"
    FAKE_FTD2XX_NEEDING_DIR="$<TARGET_FILE_DIR:fake_ftd2xx_needing>")
add_dependencies(iqfeeder_fault_e2e_tests ${fake_without_targets} fake_ftd2xx_needing)
gtest_discover_tests(iqfeeder_fault_e2e_tests NO_PRETTY_VALUES PROPERTIES TIMEOUT 120)

# The soak run: a minute by default, hours by IQFEEDER_SOAK_SECONDS. Run by .ci/steps/74-soak.sh
# alone rather than by ctest, so nothing else competes with its producer for the processors.
iqfeeder_add_program_test(iqfeeder_soak_test SoakTest.cpp)
set_target_properties(iqfeeder_soak_test PROPERTIES EXCLUDE_FROM_ALL ON)
