# The Wine prefix registry: reads a prefix's registry files directly.
target_sources(hivedump_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/wine_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_code_page_data.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_hive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_reg_parser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_prefix_registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wine_server.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/cli/entry_linux.cpp
)
if(HIVEDUMP_TESTS)
  file(GLOB hivedump_wine_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/unit/wine_*_test.cpp)
  target_sources(hivedump_tests PRIVATE ${hivedump_wine_tests})
  target_compile_definitions(hivedump_tests PRIVATE HIVEDUMP_WINE_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tests/data/wine")
endif()
