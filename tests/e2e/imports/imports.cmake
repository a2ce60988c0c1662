# No Windows program imports or names a registry function that writes.
# Exit status 77: the MinGW tools are missing or neither program is given.
add_test(NAME windows_imports COMMAND ${CMAKE_CURRENT_LIST_DIR}/run.sh "${HIVEDUMP_WINDOWS_EXE}" "${HIVEDUMP_WINDOWS_EXE32}")
set_tests_properties(windows_imports PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60 RUN_SERIAL TRUE)
