# The round trip of the 32-bit program under Wine: export, delete, import,
# export again. Exit status 77: wine64, the MinGW compiler or the program is
# not there; the test owns Wine prefixes of its own.
add_test(NAME wine_roundtrip COMMAND ${CMAKE_CURRENT_LIST_DIR}/run.sh "${HIVEDUMP_WINDOWS_EXE32}")
set_tests_properties(wine_roundtrip PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RUN_SERIAL TRUE)
