# The Registry interface is a header; the Win32 backend is Windows' only.
if(WIN32)
  target_sources(hivedump_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/win32_registry.cpp)
endif()
