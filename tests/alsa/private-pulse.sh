#!/usr/bin/env bash
# A private PulseAudio sound server for the tests, so that they record real audio without
# a sound card and without touching the machine's own sound set-up: everything it reads
# and writes lives in DIR (runtime, state, home and config), it listens on a socket of
# its own, and ALSA's "default" PCM reaches it only through the variables printed by
# "env" (a private ALSA configuration; /etc is never changed).
#
#   private-pulse.sh start DIR   start the server (a server left over in DIR is stopped first)
#   private-pulse.sh stop DIR    stop it; nothing of it keeps running
#   private-pulse.sh env DIR     print the client environment as shell exports
#   private-pulse.sh config DIR  only write the configuration: with "env" it points the
#                                clients at a server that is not there
#
# The server has one null sink, "zel_null" (48 000 Hz mono), whose monitor is the default
# source: what is played into it with paplay is what the default capture PCM records.
set -euo pipefail

usage() {
    echo "usage: $0 start|stop|env|config DIR" >&2
    exit 2
}

[ $# -eq 2 ] || usage
command=$1
dir=$(realpath -m "$2")
socket=$dir/native
runtime=$dir/runtime
pidfile=$runtime/pid

client_env() {
    cat <<EOF
export PULSE_SERVER='unix:$socket'
export PULSE_CLIENTCONFIG='$dir/client.conf'
export ALSA_CONFIG_PATH='$dir/asound.conf'
export HOME='$dir/home'
export XDG_RUNTIME_DIR='$runtime'
export XDG_CONFIG_HOME='$dir/config'
EOF
}

write_config() {
    mkdir -p "$runtime" "$dir/state" "$dir/home" "$dir/config"
    chmod 700 "$runtime"
    cat >"$dir/daemon.conf" <<EOF
daemonize = yes
exit-idle-time = -1
high-priority = no
realtime-scheduling = no
default-sample-format = s16le
default-sample-rate = 48000
default-sample-channels = 1
EOF
    cat >"$dir/server.pa" <<EOF
load-module module-null-sink sink_name=zel_null rate=48000 channels=1 channel_map=mono
load-module module-native-protocol-unix socket=$socket auth-anonymous=1
set-default-sink zel_null
set-default-source zel_null.monitor
EOF
    echo "autospawn = no" >"$dir/client.conf"
    # The system's configuration still provides every PCM type; only the default moves.
    cat >"$dir/asound.conf" <<EOF
</usr/share/alsa/alsa.conf>
pcm.!default {
    type pulse
    hint { show on description "Private test sound server" }
}
ctl.!default { type pulse }
EOF
}

server_pid() {
    [ -s "$pidfile" ] || return 1
    local pid
    pid=$(tr -dc 0-9 <"$pidfile")
    [ -n "$pid" ] && [ -d "/proc/$pid" ] || return 1
    # Only the server of this directory: the pid may have been reused by another program.
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "$dir/server.pa" || return 1
    echo "$pid"
}

stop_server() {
    local pid
    pid=$(server_pid) || {
        rm -f "$pidfile" "$socket"
        return 0
    }
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        [ -d "/proc/$pid" ] || break
        sleep 0.1
    done
    [ -d "/proc/$pid" ] && kill -KILL "$pid" 2>/dev/null || true
    rm -f "$pidfile" "$socket"
}

start_server() {
    command -v pulseaudio >/dev/null || {
        echo "pulseaudio is not installed" >&2
        exit 1
    }
    stop_server
    write_config
    # A clean environment: no session bus, display or user directories of the caller.
    # As root PulseAudio only warns that it is meant for a user session; it runs all the same.
    env -i PATH="$PATH" HOME="$dir/home" XDG_RUNTIME_DIR="$runtime" \
        XDG_CONFIG_HOME="$dir/config" PULSE_RUNTIME_PATH="$runtime" PULSE_STATE_PATH="$dir/state" \
        PULSE_CONFIG="$dir/daemon.conf" PULSE_CLIENTCONFIG="$dir/client.conf" \
        pulseaudio -n --daemonize=yes --use-pid-file=yes --exit-idle-time=-1 \
        --log-target="file:$dir/pulseaudio.log" -F "$dir/server.pa"
    for _ in $(seq 100); do
        if (eval "$(client_env)" && pactl info >/dev/null 2>&1); then
            return 0
        fi
        sleep 0.1
    done
    echo "the private sound server did not answer; see $dir/pulseaudio.log" >&2
    stop_server
    exit 1
}

case $command in
start) start_server ;;
stop) stop_server ;;
env) client_env ;;
config) write_config ;;
*) usage ;;
esac
