# The export text.
target_sources(hivedump_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/export_format.cpp)
