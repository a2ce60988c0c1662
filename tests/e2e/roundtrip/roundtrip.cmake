# The round trip, the import table check and the load test of the Windows
# build. Each exits 77 when what it needs (wine64, the MinGW tools, the build)
# is not there, and each owns Wine prefixes of its own.
include(${CMAKE_CURRENT_LIST_DIR}/../../support/support.cmake)
add_executable(hivedump_check_export ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/load/check_export.cpp)
target_link_libraries(hivedump_check_export PRIVATE hivedump_test_support)

add_test(NAME wine_roundtrip COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/roundtrip/run.sh ${HIVEDUMP_WINDOWS_EXE32})
set_tests_properties(wine_roundtrip PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RUN_SERIAL TRUE)

add_test(NAME windows_imports
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/imports/run.sh ${CMAKE_CURRENT_SOURCE_DIR}/build-win64/hivedump.exe
                 ${CMAKE_CURRENT_SOURCE_DIR}/build-win32/hivedump.exe)
set_tests_properties(windows_imports PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60 RUN_SERIAL TRUE)

add_test(NAME wine_load COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/load/run.sh ${HIVEDUMP_WINDOWS_EXE}
                                $<TARGET_FILE:hivedump_check_export>)
set_tests_properties(wine_load PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE)
