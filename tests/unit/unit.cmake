# The unit tests, the fault loops and the reader they check files with. The
# allocation loop replaces the global operator new, so it is a program of its
# own.
add_executable(hivedump_tests
  ${CMAKE_CURRENT_LIST_DIR}/export_format_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_stream_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_walk_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_run_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fault_loops_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_ansi_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_locale_code_page_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_prefix_registry_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_reader_chunks_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_server_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_view_test.cpp
)
target_link_libraries(hivedump_tests PRIVATE hivedump_test_support GTest::gtest_main)
target_compile_definitions(hivedump_tests PRIVATE HIVEDUMP_WINE_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data/wine"
  HIVEDUMP_LOCALE_RECORDING="${PROJECT_SOURCE_DIR}/tools/locale_code_pages.tsv")
gtest_discover_tests(hivedump_tests DISCOVERY_TIMEOUT 60)

add_executable(hivedump_alloc_tests ${CMAKE_CURRENT_LIST_DIR}/alloc_fail_test.cpp)
target_link_libraries(hivedump_alloc_tests PRIVATE hivedump_test_support GTest::gtest_main)
target_compile_definitions(hivedump_alloc_tests PRIVATE HIVEDUMP_EXAMPLE_PREFIX="${PROJECT_SOURCE_DIR}/examples/prefix")
gtest_discover_tests(hivedump_alloc_tests DISCOVERY_TIMEOUT 60)
