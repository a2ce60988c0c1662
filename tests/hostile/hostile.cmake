# Hostile prefixes against the Linux tool: every case within 10 s, on a 256 KiB
# stack, in twice its input plus 64 MiB of memory. run.sh builds peak_rss when
# it is missing; the cases that need another user are skipped when not root.
# Time, stack and memory limits hold for the plain build, not a sanitizer's.
if(HIVEDUMP_SANITIZE)
  return()
endif()
add_test(NAME hostile COMMAND ${CMAKE_CURRENT_LIST_DIR}/run.sh ${CMAKE_BINARY_DIR})
set_tests_properties(hostile PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
