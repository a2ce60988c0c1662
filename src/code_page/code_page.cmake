# The ANSI code page and its lead bytes.
target_sources(hivedump_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/code_page.cpp)
