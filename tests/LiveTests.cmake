# Live-mode tests: pass-by-pass scenarios and seeded random runs in process, and real-time runs
# of the program through a pseudo-terminal.
add_executable(iqfeeder_live_tests
    LiveStreamTest.cpp
    LiveModelTest.cpp
)
target_link_libraries(iqfeeder_live_tests PRIVATE iqfeeder_test_support GTest::gtest_main iqfeeder_warnings)
gtest_discover_tests(iqfeeder_live_tests NO_PRETTY_VALUES PROPERTIES TIMEOUT 120)

# Real time: a few seconds each, alone so that other tests don't starve the producer.
target_sources(iqfeeder_test_support PRIVATE
    support/PtyChild.cpp
    support/FileProducer.cpp
    support/LiveRunAudit.cpp
)
target_link_libraries(iqfeeder_test_support PUBLIC util)
iqfeeder_add_program_test(iqfeeder_live_e2e_tests LiveEndToEndTest.cpp)
gtest_discover_tests(iqfeeder_live_e2e_tests NO_PRETTY_VALUES PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)
