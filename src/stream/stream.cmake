# The text stream and the platform's files.
target_sources(hivedump_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/text_stream.cpp ${CMAKE_CURRENT_LIST_DIR}/standard_output.cpp)
if(WIN32)
  target_sources(hivedump_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/files_win32.cpp)
else()
  target_sources(hivedump_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/files_posix.cpp)
endif()
