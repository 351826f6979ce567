# Faults and bad input: input faults pass by pass in process.
add_executable(iqfeeder_fault_tests FaultTest.cpp)
target_link_libraries(iqfeeder_fault_tests PRIVATE iqfeeder_test_support GTest::gtest_main iqfeeder_warnings)
gtest_discover_tests(iqfeeder_fault_tests PROPERTIES TIMEOUT 120)
