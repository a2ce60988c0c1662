# Every generated file of the repository made again by its generator, under
# wine64 where it measures Wine, and compared with the committed one.
# Exit status 77: wine64, the MinGW compiler or python3 is missing.
add_test(NAME wine_generated_files COMMAND ${CMAKE_CURRENT_LIST_DIR}/regenerate.sh --check)
set_tests_properties(wine_generated_files PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RUN_SERIAL TRUE)
