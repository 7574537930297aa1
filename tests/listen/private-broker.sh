#!/usr/bin/env bash
# A private MQTT broker (mosquitto) for the tests: its configuration, data, log and a
# certificate made here live in DIR; it listens on 127.0.0.1 only, on two free ports:
# plain MQTT (DIR/port) and MQTT over TLS (DIR/tls-port, certificate DIR/cert.pem,
# which is its own certificate authority). Anonymous clients are welcome; the user
# "zel" must give the password in DIR/password.
#
#   private-broker.sh start DIR     choose the ports, make the certificate, start it
#   private-broker.sh stop DIR      stop it (SIGTERM: it saves its data first)
#   private-broker.sh restart DIR   start it again on the same ports
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 start|stop|restart DIR" >&2; exit 2; }
command=$1
dir=$(realpath -m "$2")

broker_pid() {
    [ -s "$dir/pid" ] || return 1
    local pid
    pid=$(cat "$dir/pid")
    [ -d "/proc/$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "$dir/mosquitto.conf" || return 1
    echo "$pid"
}

stop_broker() {
    local pid
    pid=$(broker_pid) || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        [ -d "/proc/$pid" ] || break
        sleep 0.1
    done
    [ -d "/proc/$pid" ] && kill -KILL "$pid" 2>/dev/null || true
    rm -f "$dir/pid"
}

write_config() {
    cat >"$dir/mosquitto.conf" <<CONF
user $(id -un)
allow_anonymous true
password_file $dir/passwords
persistence true
persistence_location $dir/data/
log_dest file $dir/mosquitto.log
listener $1 127.0.0.1
listener $2 127.0.0.1
certfile $dir/cert.pem
keyfile $dir/key.pem
CONF
    echo "$1" >"$dir/port"
    echo "$2" >"$dir/tls-port"
}

make_certificate() {
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
        -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null
}

make_password() {
    echo 'open sesame' >"$dir/password"
    rm -f "$dir/passwords"
    mosquitto_passwd -c -b "$dir/passwords" zel "$(cat "$dir/password")"
}

# Runs the broker; false when it did not come up (its ports taken meanwhile).
run_broker() {
    setsid mosquitto -c "$dir/mosquitto.conf" </dev/null >>"$dir/mosquitto.log" 2>&1 &
    echo $! >"$dir/pid"
    for _ in $(seq 50); do
        broker_pid >/dev/null || return 1
        mosquitto_pub -h 127.0.0.1 -p "$(cat "$dir/port")" -t probe -n 2>/dev/null && return 0
        sleep 0.1
    done
    stop_broker
    return 1
}

start_broker() {
    command -v mosquitto >/dev/null || { echo "mosquitto is not installed" >&2; exit 1; }
    stop_broker
    rm -rf "$dir/data"
    mkdir -p "$dir/data"
    make_certificate
    make_password
    for _ in $(seq 20); do
        local port=$((20000 + RANDOM % 20000))
        write_config "$port" "$((port + 1))"
        run_broker && return 0
    done
    echo "the private broker did not start; see $dir/mosquitto.log" >&2
    exit 1
}

case $command in
start) start_broker ;;
stop) stop_broker ;;
restart) broker_pid >/dev/null || run_broker || { echo "the private broker did not start again" >&2; exit 1; } ;;
*) echo "usage: $0 start|stop|restart DIR" >&2; exit 2 ;;
esac
