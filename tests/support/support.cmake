# The test-only reader of the export format, the in-memory registry, sinks and
# registry files, and the registry file generator, shared by the unit tests, the fault
# loops, the fuzz targets and the comparison with Wine on random prefixes.
if(NOT TARGET hivedump_test_support)
  add_library(hivedump_test_support STATIC
    ${CMAKE_CURRENT_LIST_DIR}/export_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/memory_registry.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reg_generator.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reg_lines.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reg_text.cpp
  )
  target_include_directories(hivedump_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/../unit)
  target_link_libraries(hivedump_test_support PUBLIC hivedump_core)
endif()
