# Live-mode tests: pass-by-pass scenarios and seeded random runs in process, and real-time runs
# of the program through a pseudo-terminal.
add_executable(iqfeeder_live_tests
    LiveStreamTest.cpp
    LiveModelTest.cpp
)
target_link_libraries(iqfeeder_live_tests PRIVATE iqfeeder_test_support GTest::gtest_main iqfeeder_warnings)
gtest_discover_tests(iqfeeder_live_tests PROPERTIES TIMEOUT 120)

