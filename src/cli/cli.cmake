# The arguments, the export run and the program of each platform.
target_sources(hivedump_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/arguments.cpp ${CMAKE_CURRENT_LIST_DIR}/export_run.cpp)

if(WIN32)
  add_executable(hivedump ${CMAKE_CURRENT_LIST_DIR}/main_windows.cpp)
  target_link_libraries(hivedump PRIVATE hivedump_core advapi32)
  # One self-contained console program: no runtime DLLs beside the system's.
  target_link_options(hivedump PRIVATE -static -static-libgcc -static-libstdc++)
else()
  # In the library: the tests run the Linux entry as the program does.
  target_sources(hivedump_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/entry_linux.cpp)
  add_executable(hivedump ${CMAKE_CURRENT_LIST_DIR}/main_linux.cpp)
  target_link_libraries(hivedump PRIVATE hivedump_core)
  # A key's export runs through many small functions in several files;
  # inlined across them, the loop's code is shorter and stays in the
  # instruction cache.
  if(NOT HIVEDUMP_SANITIZE AND NOT HIVEDUMP_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    include(CheckIPOSupported)
    check_ipo_supported(RESULT hivedump_ipo LANGUAGES CXX)
    set_target_properties(hivedump_core hivedump PROPERTIES INTERPROCEDURAL_OPTIMIZATION_RELEASE ${hivedump_ipo})
  endif()
endif()
