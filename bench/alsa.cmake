# CPU time and notification delay of the ALSA sound input recording from a private
# PulseAudio server, which the benchmark starts and stops itself.
zel_add_benchmark(bench_alsa_capture
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_alsa_capture.cpp
    LIBS zel_platform)
target_compile_definitions(bench_alsa_capture PRIVATE
    ZEL_PULSE_SCRIPT="${PROJECT_SOURCE_DIR}/tests/alsa/private-pulse.sh")
