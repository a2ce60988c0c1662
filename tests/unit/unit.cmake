# The fault loops and the reader they check files with; included after the
# hivedump_tests target is defined. The allocation loop replaces the global
# operator new, so it is a program of its own.
include(${CMAKE_CURRENT_LIST_DIR}/../support/support.cmake)
target_sources(hivedump_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/fault_loops_test.cpp ${CMAKE_CURRENT_LIST_DIR}/export_reader_test.cpp)
target_link_libraries(hivedump_tests PRIVATE hivedump_test_support)

add_executable(hivedump_alloc_tests ${CMAKE_CURRENT_LIST_DIR}/alloc_fail_test.cpp)
target_link_libraries(hivedump_alloc_tests PRIVATE hivedump_test_support GTest::gtest_main)
gtest_discover_tests(hivedump_alloc_tests DISCOVERY_TIMEOUT 60)
target_compile_definitions(hivedump_alloc_tests PRIVATE HIVEDUMP_EXAMPLE_PREFIX="${CMAKE_CURRENT_LIST_DIR}/../../examples/prefix")
