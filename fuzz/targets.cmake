# The fuzz targets: fuzz/<name>.cpp, seeds in corpus/<name>/, inputs that
# once failed in regressions/<name>/.
set(HIVEDUMP_FUZZ_TARGETS fuzz_export_format fuzz_arguments fuzz_wine_prefix fuzz_wine_structured)
