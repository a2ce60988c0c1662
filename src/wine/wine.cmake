# The Wine prefix registry, Linux only: reads a prefix's registry files
# directly. One file of this folder a line.
set(hivedump_wine_sources
  text.cpp
  ansi_converter.cpp
  byte_conversions.cpp
  arena.cpp
  hive.cpp
  lexer.cpp
  line_scanner.cpp
  section_header.cpp
  section_keys.cpp
  first_pass.cpp
  catch_up.cpp
  interest.cpp
  loader.cpp
  links.cpp
  values.cpp
  files.cpp
  pinned_file.cpp
  prefix.cpp
  locale_code_page.cpp
  argument_text.cpp
  prefix_registry.cpp
  key_resolver.cpp
  loaded_files.cpp
  handles.cpp
  view.cpp
  listing.cpp
  server.cpp
)
list(TRANSFORM hivedump_wine_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
target_sources(hivedump_core PRIVATE ${hivedump_wine_sources})

# The code page tables in codepages/, compiled in.
include(${PROJECT_SOURCE_DIR}/cmake/embed_codepages.cmake)
hivedump_embed_codepages(${PROJECT_BINARY_DIR}/generated/code_page_tables.cpp)
target_sources(hivedump_core PRIVATE ${PROJECT_BINARY_DIR}/generated/code_page_tables.cpp)
