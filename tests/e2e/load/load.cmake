# The 64-bit build under wine64 while another program changes the key it
# exports; check_export reads each file. Exit status 77: wine64, the MinGW
# compiler or the program is not there; the test owns a Wine prefix.
add_executable(hivedump_check_export ${CMAKE_CURRENT_LIST_DIR}/check_export.cpp)
target_link_libraries(hivedump_check_export PRIVATE hivedump_test_support)
add_test(NAME wine_load COMMAND ${CMAKE_CURRENT_LIST_DIR}/run.sh "${HIVEDUMP_WINDOWS_EXE}" $<TARGET_FILE:hivedump_check_export>)
set_tests_properties(wine_load PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE)
