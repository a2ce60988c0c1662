# Master keys, the key walk and the value export.
target_sources(hivedump_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/buffer_source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_walk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/value_export.cpp
)
