# The receiver kept listening on the sound input the window uses, reporting what it sees, for
# bench/soak.sh.
add_executable(zel-bench-soak-listener ${CMAKE_CURRENT_LIST_DIR}/soak_listener.cpp)
target_link_libraries(zel-bench-soak-listener PRIVATE zel_receiver_live)
