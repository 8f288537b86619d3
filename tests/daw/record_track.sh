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
for name in "${names[@]}"; do outputs+=("$(jack_lsp | grep -m1 -x ".*:$name")"); done
midi_in=$(jack_lsp | grep -m1 -x ".*:$KVX_TRACK_MIDI_IN")
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT

sequencer=kvx-notes-$$
jack_midiseq "$sequencer" "$@" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do jack_lsp 2>/dev/null | grep -qx "$sequencer:out" && break; sleep 0.1; done
# The recorder first, so that the first note the track hears is recorded whole.
jack_rec -f "$out" -d "$seconds" -b 32 "${outputs[@]}" >/dev/null 2>&1 &
recorder=$!
pids+=($recorder)
for _ in $(seq 50); do jack_lsp 2>/dev/null | grep -q "^jackrec:" && break; sleep 0.1; done
jack_connect "$sequencer:out" "$midi_in"
wait "$recorder"
