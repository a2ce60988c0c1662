# The benchmark's programs, built on demand by bench/run.sh (and peak_rss by
# the hostile cases).
add_executable(generate_prefix EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/generate_prefix.cpp)
add_executable(peak_rss EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/peak_rss.cpp)
