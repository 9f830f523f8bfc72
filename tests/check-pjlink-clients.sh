#!/usr/bin/env bash
# Runs PJLink clients that nobody here wrote against qvx-bridge in front of
# qvx-sim: the npm package pjlink and python3-pypjlink2 (Home Assistant's
# library), whichever are installed, and compares what each made of the
# bridge's answers with what the simulators' states mean. The npm package is
# installed, pinned, into a cache folder when it is missing there. Exits 77
# (skipped) when no client can be run.
#
#   tests/check-pjlink-clients.sh QVX-SIM QVX-BRIDGE
set -uo pipefail
sim=$1
bridge=$2
clients=$(cd "$(dirname "$0")/pjlink-clients" && pwd)

npm_version=0.2.8
npm_prefix=${XDG_CACHE_HOME:-$HOME/.cache}/qvx-control/npm
npm_module=$npm_prefix/node_modules/pjlink
password=change-me

work=$(mktemp -d)
pids=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT

# Waits up to 10 s for a file to hold a text, while the process that writes
# it, if one is given, runs.
wait_for() {
    local file=$1 text=$2 writer=${3:-} tries
    for ((tries = 0; tries < 100; tries++)); do
        grep -qF -- "$text" "$file" 2>/dev/null && return 0
        [ -n "$writer" ] && ! kill -0 "$writer" 2>/dev/null && return 1
        sleep 0.1
    done
    return 1
}

# The pinned npm package in the cache folder, installed there if it is not.
npm_ready() {
    command -v node >/dev/null || { echo "SKIP: npm pjlink: node is not installed (Debian: nodejs)"; return 1; }
    if [ "$(node -p "require('$npm_module/package.json').version" 2>/dev/null)" != "$npm_version" ]; then
        command -v npm >/dev/null || { echo "SKIP: npm pjlink: npm is not installed (Debian: npm)"; return 1; }
        echo "Installing pjlink@$npm_version into $npm_prefix"
        mkdir -p "$npm_prefix"
        if ! timeout 180 npm install --prefix "$npm_prefix" --no-audit --no-fund --no-save --loglevel=error \
            "pjlink@$npm_version" >"$work/npm.log" 2>&1; then
            echo "SKIP: npm pjlink: the npm registry could not be reached: $(tail -n 3 "$work/npm.log")"
            return 1
        fi
    fi
}

pypjlink_ready() {
    python3 -c 'import pypjlink' 2>/dev/null && return 0
    echo "SKIP: pypjlink2: python3-pypjlink2 is not installed (Debian 13 packages it, Debian 12 does not)"
    return 1
}

# Three simulated projectors, each on a link of its own: one as it comes, one
# that tells a temperature fault and a failed lamp, one that never answers;
# and the bridge serving them on free loopback ports, the second with a
# password. Sets open_port, locked_port and silent_port.
start_venue() {
    local round=$1 name attempt served status
    local -A options=(
        [open]="--hours-per-minute 0"
        [locked]="--hours-per-minute 0 --status 1 --lamp-state 4"
        [silent]="--silent"
    )
    for name in open locked silent; do
        # shellcheck disable=SC2086
        "$sim" ${options[$name]} --link "$work/$round-$name" >"$work/$round-$name.out" 2>&1 &
        pids+=($!)
    done
    for name in open locked silent; do
        wait_for "$work/$round-$name.out" /dev/ || { echo "FAIL: qvx-sim did not start: $(cat "$work/$round-$name.out")"; return 1; }
    done
    for ((attempt = 0; attempt < 5; attempt++)); do
        open_port=$((20000 + RANDOM % 40000))
        locked_port=$((open_port + 1))
        silent_port=$((open_port + 2))
        cat >"$work/$round.conf" <<EOF
[open]
port = $work/$round-open
name = Booth A
pjlink = 127.0.0.1:$open_port

[locked]
port = $work/$round-locked
name = Booth B
pjlink = 127.0.0.1:$locked_port
pjlink-password = $password

[silent]
port = $work/$round-silent
name = Booth C
pjlink = 127.0.0.1:$silent_port
EOF
        "$bridge" --venue "$work/$round.conf" 2>"$work/$round.log" &
        served=$!
        pids+=("$served")
        for name in open locked silent; do
            wait_for "$work/$round.log" "$name: the line is open" "$served" || break
        done
        grep -qF "silent: the line is open" "$work/$round.log" && return 0
        kill -0 "$served" 2>/dev/null && break
        wait "$served"
        status=$?
        unset 'pids[-1]'
        # 1: a port was taken meanwhile; others are tried.
        [ "$status" -eq 1 ] || break
    done
    echo "FAIL: qvx-bridge did not serve the venue: $(cat "$work/$round.log")"
    return 1
}

# What the simulators' states mean through PJLink, in the clients' words.
# Lamps 1 and 2 count hours (1234 and 987 as the simulator starts; none are
# gained with --hours-per-minute 0), lamps 3 and 4 count none; all four light
# up with the power. INST lists the five inputs; INPT ? has no input until one
# is set through the bridge. The silent projector cannot answer now (ERR3), and
# a wrong password is refused (ERRA).
expected() {
    local label
    local -A names=([open]="Booth A" [locked]="Booth B")
    local -A errors=([open]="fan ok, lamp ok, temperature ok" [locked]="fan ok, lamp error, temperature error")
    for label in open locked; do
        cat <<EOF
$label power off
$label lamps 1234 off, 987 off, 0 off, 0 off
$label errors ${errors[$label]}, cover ok, filter ok, other ok
$label inputs 11 12 13 21 22
$label name ${names[$label]}
$label manufacturer KELM
$label product QVX-7300
$label info QVX-7300/7300L
$label input unavailable time
$label power-on OK
$label power on
$label lamps 1234 on, 987 on, 0 on, 0 on
$label input-set OK
$label input 21
$label mute video off, audio off
$label mute-set OK
$label mute video on, audio on
EOF
    done
    cat <<EOF
silent power unavailable time
silent power-on unavailable time
wrong power authorization failed
EOF
}

failures=0
ran=0
# Runs one client against a venue of its own, so that each starts from the
# simulators' first state.
check() {
    local client=$1
    shift
    start_venue "$client" || { failures=$((failures + 1)); stop_all; return; }
    ran=$((ran + 1))
    if ! timeout 240 "$@" "$open_port" "$locked_port" "$silent_port" "$password" >"$work/$client.got" 2>&1; then
        echo "FAIL: $client: the client failed:"
        cat "$work/$client.got"
        failures=$((failures + 1))
    elif ! diff -u --label "what the simulators mean" --label "what $client made of the answers" \
        <(expected) "$work/$client.got"; then
        echo "FAIL: $client: the bridge's log:"
        cat "$work/$client.log"
        failures=$((failures + 1))
    else
        echo "$client read and switched every projector as the simulators mean"
    fi
    stop_all
}

if npm_ready; then
    check npm-pjlink node "$clients/npm-client.js" "$npm_module"
fi
if pypjlink_ready; then
    check pypjlink2 python3 "$clients/pypjlink-client.py"
fi

[ "$ran" -eq 0 ] && [ "$failures" -eq 0 ] && exit 77
[ "$failures" -eq 0 ]
