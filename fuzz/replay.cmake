# The fuzz targets as plain programs that replay their seed corpus and their
# regression inputs, so the normal test run (any compiler) keeps them fixed.
include(${CMAKE_CURRENT_LIST_DIR}/targets.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../tests/support/support.cmake)
foreach(target IN LISTS HIVEDUMP_FUZZ_TARGETS)
  add_executable(${target}_replay ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp)
  target_link_libraries(${target}_replay PRIVATE hivedump_test_support)
  add_test(NAME ${target}_replay
           COMMAND ${target}_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/${target} ${CMAKE_CURRENT_LIST_DIR}/regressions/${target})
endforeach()
