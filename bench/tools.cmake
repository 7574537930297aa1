# Helper of compare-multimon.sh: converts a recording to the raw input multimon-ng reads.
add_executable(zel-bench-to-raw ${CMAKE_CURRENT_LIST_DIR}/to_raw.cpp)
target_link_libraries(zel-bench-to-raw PRIVATE zel_recordings PkgConfig::SNDFILE)

# Helper of compare-multimon.sh: the cost of only reading a recording.
add_executable(zel-bench-read-file ${CMAKE_CURRENT_LIST_DIR}/read_file.cpp)
