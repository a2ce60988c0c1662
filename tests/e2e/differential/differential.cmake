# The Linux tool against the Windows build under Wine, on the same prefixes:
# those of the test data, and HIVEDUMP_RANDOM_PREFIXES seeds (5 by default)
# from the registry generator. Exit status 77: wine64 or the 64-bit build is
# not there to run.
add_test(NAME differential COMMAND ${CMAKE_CURRENT_LIST_DIR}/run.sh "${HIVEDUMP_WINDOWS_EXE}" $<TARGET_FILE:hivedump>
                                   "${HIVEDUMP_WINDOWS_EXE32}")
set_tests_properties(differential PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1800 RUN_SERIAL TRUE)

add_executable(hivedump_generate_registry ${CMAKE_CURRENT_LIST_DIR}/generate_registry.cpp)
target_link_libraries(hivedump_generate_registry PRIVATE hivedump_test_support)
add_test(NAME differential_random
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/random.sh "${HIVEDUMP_WINDOWS_EXE}" $<TARGET_FILE:hivedump>
                 $<TARGET_FILE:hivedump_generate_registry> "${HIVEDUMP_WINDOWS_EXE32}")
set_tests_properties(differential_random PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1800 RUN_SERIAL TRUE)
