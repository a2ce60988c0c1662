# The fuzz targets: fuzz/<name>.cpp, seeds in corpus/<name>/, inputs that
# once failed in regressions/<name>/.
set(HIVEDUMP_FUZZ_TARGETS fuzz_export_format fuzz_arguments)
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/../src/wine/prefix_registry.h)
  list(APPEND HIVEDUMP_FUZZ_TARGETS fuzz_wine_prefix fuzz_wine_structured)
endif()
