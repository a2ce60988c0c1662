# The manual page and the .deb that cmake/packaging.cmake describes.
# Exit status 77: groff is not installed.
add_test(NAME manpage COMMAND ${CMAKE_CURRENT_LIST_DIR}/test_manpage.sh ${PROJECT_SOURCE_DIR}/doc/hivedump.1 ${HIVEDUMP_VERSION_TEXT})
set_tests_properties(manpage PROPERTIES SKIP_RETURN_CODE 77)

# Exit status 77: not root, or a hivedump already installed that the test
# must leave alone.
add_test(NAME package COMMAND ${CMAKE_CURRENT_LIST_DIR}/test_package.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}
                              ${HIVEDUMP_VERSION_TEXT})
set_tests_properties(package PROPERTIES SKIP_RETURN_CODE 77 RUN_SERIAL TRUE TIMEOUT 300)
