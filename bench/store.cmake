# Searches in a store of a million messages.
zel_add_benchmark(bench_store
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_store.cpp
    LIBS zel_store)
