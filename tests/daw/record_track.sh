#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shell step play_instrument.lua runs inside Ardour: jack_rec records the track's audio
# output (32-bit float) while jack_midiseq plays its note loop into the track's MIDI input.
# Usage: record_track.sh OUT.wav SECONDS LOOP_FRAMES [START KEY LENGTH]...
# The track's ports come in KVX_TRACK_MIDI_IN and KVX_TRACK_AUDIO_OUT (newline-separated).
set -euo pipefail
out=$1 seconds=$2
shift 2
# Ardour names its ports without its JACK client's name.
mapfile -t names <<<"$KVX_TRACK_AUDIO_OUT"
outputs=()
for name in "${names[@]}"; do outputs+=("$(jack_lsp | grep -m1 -x ".*:$name" || true)"); done
midi_in=$(jack_lsp | grep -m1 -x ".*:$KVX_TRACK_MIDI_IN" || true)
[[ -n $midi_in && ${#outputs[@]} -gt 0 && -n ${outputs[0]} ]] ||
    { echo "record_track: the track's ports are not on the JACK server"; jack_lsp; exit 1; }
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT

sequencer=kvx-notes-$$
jack_midiseq "$sequencer" "$@" >/dev/null 2>&1 &
pids+=($!)
wait_for_port() {
    for _ in $(seq 100); do jack_lsp 2>/dev/null | grep -q "$1" && return 0; sleep 0.1; done
    echo "record_track: no port $1 after 10 s"
    exit 1
}
wait_for_port "^$sequencer:out\$"
# The recorder first, so that the first note the track hears is recorded whole.
jack_rec -f "$out" -d "$seconds" -b 32 "${outputs[@]}" >"$out.log" 2>&1 &
recorder=$!
pids+=($recorder)
wait_for_port "^jackrec:"
jack_connect "$sequencer:out" "$midi_in" || { echo "record_track: cannot connect the notes to $midi_in"; exit 1; }
wait "$recorder" || { echo "record_track: jack_rec failed:"; cat "$out.log"; exit 1; }
