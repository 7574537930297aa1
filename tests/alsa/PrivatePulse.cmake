# The private PulseAudio server of the tests (private-pulse.sh), as a CTest fixture.
# After include():
#   ZEL_PULSE_ENVIRONMENT  the client environment (a list of VAR=value) that points PulseAudio
#                          clients and ALSA's "default" PCM at the private server
#   ZEL_PULSE_PROPERTIES   the fixture and the lock on the server's one sink, as test properties
#   zel_use_private_pulse(TEST...)  gives add_test() tests both, the environment appended
# (gtest_discover_tests of CMake 3.25 cannot pass an environment of more than one variable:
# run such a program as one add_test() instead.)
# Tests that play into the sink hold the lock, so parallel runs never mix their signals.
# Any folder may include this file; the fixture itself is added once.

set(ZEL_PULSE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/private-pulse.sh)
set(ZEL_PULSE_DIR ${CMAKE_BINARY_DIR}/private-pulse)
# A unix socket path must stay short; deep build trees get theirs under /tmp instead.
string(LENGTH "${ZEL_PULSE_DIR}/native" ZEL_PULSE_SOCKET_LENGTH)
if(ZEL_PULSE_SOCKET_LENGTH GREATER 100)
    string(MD5 ZEL_PULSE_TAG "${CMAKE_BINARY_DIR}")
    string(SUBSTRING "${ZEL_PULSE_TAG}" 0 12 ZEL_PULSE_TAG)
    set(ZEL_PULSE_DIR /tmp/zel-pulse-${ZEL_PULSE_TAG})
endif()

set(ZEL_PULSE_ENVIRONMENT
    "PULSE_SERVER=unix:${ZEL_PULSE_DIR}/native"
    "PULSE_CLIENTCONFIG=${ZEL_PULSE_DIR}/client.conf"
    "ALSA_CONFIG_PATH=${ZEL_PULSE_DIR}/asound.conf"
    "HOME=${ZEL_PULSE_DIR}/home"
    "XDG_RUNTIME_DIR=${ZEL_PULSE_DIR}/runtime"
    "XDG_CONFIG_HOME=${ZEL_PULSE_DIR}/config")
set(ZEL_PULSE_PROPERTIES FIXTURES_REQUIRED zel_private_pulse RESOURCE_LOCK zel_private_pulse_sink)

get_property(ZEL_PULSE_FIXTURE_ADDED GLOBAL PROPERTY ZEL_PULSE_FIXTURE_ADDED)
if(NOT ZEL_PULSE_FIXTURE_ADDED)
    set_property(GLOBAL PROPERTY ZEL_PULSE_FIXTURE_ADDED TRUE)
    add_test(NAME zel_private_pulse_start COMMAND bash ${ZEL_PULSE_SCRIPT} start ${ZEL_PULSE_DIR})
    add_test(NAME zel_private_pulse_stop COMMAND bash ${ZEL_PULSE_SCRIPT} stop ${ZEL_PULSE_DIR})
    set_tests_properties(zel_private_pulse_start PROPERTIES FIXTURES_SETUP zel_private_pulse
                                                            TIMEOUT 60)
    set_tests_properties(zel_private_pulse_stop PROPERTIES FIXTURES_CLEANUP zel_private_pulse
                                                           TIMEOUT 60)
endif()

function(zel_use_private_pulse)
    set_tests_properties(${ARGN} PROPERTIES ${ZEL_PULSE_PROPERTIES})
    set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT ${ZEL_PULSE_ENVIRONMENT})
endfunction()
