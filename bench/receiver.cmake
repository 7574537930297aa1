# Decoding throughput of the receiver on continuous FFSK traffic, noise and silence.
zel_add_benchmark(bench_receiver
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_receiver.cpp
    LIBS zel_receiver zel_signal)
