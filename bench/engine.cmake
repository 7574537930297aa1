# Steady-state recording on the simulated sound input: the engine's cost and its
# allocations per buffer.
zel_add_benchmark(bench_engine
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_engine.cpp
    LIBS zel_audio)
