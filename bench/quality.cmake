# Message success of both demodulators on simulated radio channels, against theory.
add_executable(bench_quality ${CMAKE_CURRENT_LIST_DIR}/quality.cpp)
target_link_libraries(bench_quality PRIVATE zel_signal zel_receiver zel_recordings)
