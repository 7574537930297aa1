# What the window costs when a message arrives after a very long one.
zel_add_benchmark(bench_window
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_window.cpp
    LIBS zel_gui)
