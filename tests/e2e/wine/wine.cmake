# The Windows program's end-to-end cases under wine64. The program shipped is
# the 32-bit one: it runs in the win64 test prefixes as on users' machines, in
# the 32-bit view. Exit status 77: wine64 or the program is not there to run.
add_test(NAME wine_e2e COMMAND ${CMAKE_CURRENT_LIST_DIR}/run.sh "${HIVEDUMP_WINDOWS_EXE32}")
set_tests_properties(wine_e2e PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900 RUN_SERIAL TRUE)
