# SPDX-License-Identifier: MIT
# Sourced by scripts and tests that need a JACK server without a sound card: starts jackd with
# the dummy backend under a name of its own (JACK_DEFAULT_SERVER, so that clients started after
# it find it and parallel runs do not meet) and stops it with jack_dummy_stop. Synchronous: a
# cycle waits for every client, so a late client (no real-time scheduling here) costs time, not
# frames (asynchronous, a late recorder loses cycles).
# Usage: source scripts/jack-dummy.sh; jack_dummy_start NAME BUFFER_FRAMES LOG; ...; jack_dummy_stop

jack_dummy_pid=""

# Starts the server and waits until it answers; prints its log and fails when it does not.
jack_dummy_start() {
    local name=$1 frames=$2 log=$3
    export JACK_DEFAULT_SERVER=$name JACK_NO_AUDIO_RESERVATION=1
    jackd --no-realtime --sync -n "$name" -d dummy -r 48000 -p "$frames" >"$log" 2>&1 &
    jack_dummy_pid=$!
    if ! jack_wait -w -t 10 >/dev/null 2>&1; then
        cat "$log" >&2
        jack_dummy_stop
        return 1
    fi
}

jack_dummy_stop() {
    [[ -n $jack_dummy_pid ]] || return 0
    kill "$jack_dummy_pid" 2>/dev/null || true
    wait "$jack_dummy_pid" 2>/dev/null || true
    jack_dummy_pid=""
}
