# The Wine prefix registry: reads a prefix's registry files directly.
target_sources(hivedump_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ansi_converter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/code_page_data.cpp
  ${CMAKE_CURRENT_LIST_DIR}/arena.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lexer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/section_header.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/line_scanner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/section_keys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/first_pass.cpp
  ${CMAKE_CURRENT_LIST_DIR}/catch_up.cpp
  ${CMAKE_CURRENT_LIST_DIR}/interest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/links.cpp
  ${CMAKE_CURRENT_LIST_DIR}/values.cpp
  ${CMAKE_CURRENT_LIST_DIR}/files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pinned_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/prefix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/locale_code_page.cpp
  ${CMAKE_CURRENT_LIST_DIR}/argument_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/prefix_registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_resolver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loaded_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/handles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/listing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/cli/entry_linux.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/generated/codepage_data.cpp
)
if(HIVEDUMP_TESTS)
  file(GLOB hivedump_wine_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/unit/wine_*_test.cpp)
  target_sources(hivedump_tests PRIVATE ${hivedump_wine_tests})
  target_compile_definitions(hivedump_tests PRIVATE HIVEDUMP_WINE_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tests/data/wine"
    HIVEDUMP_LOCALE_RECORDING="${CMAKE_CURRENT_SOURCE_DIR}/tools/locale_code_pages.tsv")
endif()
