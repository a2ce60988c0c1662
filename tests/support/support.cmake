# The test-only reader of the export format and the in-memory sinks, shared
# by the unit tests, the fault loops and the fuzz targets.
if(NOT TARGET hivedump_test_support)
  add_library(hivedump_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/export_reader.cpp)
  target_include_directories(hivedump_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/../unit)
  target_link_libraries(hivedump_test_support PUBLIC hivedump_core)
endif()
