#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# An LV2 instrument played live in Ardour: for each JACK buffer size, a JACK server with the
# dummy backend, Ardour's headless session tool with a MIDI track holding the plug-in and
# monitoring its input, jack_midiseq looping notes into it and jack_rec recording the track;
# the recording must be kvx render of the same notes times Ardour's -3 dB pan law (a mono output
# panned to the centre of the track's two), sample for sample.
# Usage: check_ardour.sh KVX SOURCE_DIR SCRATCH_DIR PLUGIN_URI BUFFER_FRAMES...
# Exit status 77 (ctest's skip): no Ardour on this machine. A run without a recording (Ardour's
# tool crashing or hanging, a JACK client failing) is retried once and reported apart from a
# mismatch; a crash on the way out after the recording is reported and not held against it.
set -euo pipefail
kvx=$1 source_dir=$2 scratch=$3
uri=$4
shift 4
here=$source_dir/tests/daw
patch=$source_dir/examples/patches/instrument.kvxpatch.json
if ! command -v ardour7-lua >/dev/null || ! command -v jack_midiseq >/dev/null; then
    echo "check_ardour: SKIPPED: ardour7-lua or jack_midiseq is not installed (scripts/setup-deps installs ardour and jackd2)"
    exit 77
fi
source "$source_dir/scripts/jack-dummy.sh"
trap jack_dummy_stop EXIT

rm -rf "$scratch" && mkdir -p "$scratch/lv2"
"$kvx" lv2 "$patch" --out "$scratch/lv2/instrument.lv2" >/dev/null
export LV2_PATH=$scratch/lv2

# The loop (1.2 s): key 60 at 0 and key 67 at 0.6 s, 0.1 s each; the 300 ms release of each
# ends before the next note, so one voice or many play it alike. The track may first hear
# either note: the reference plays the loop twice and the comparison tries both onsets.
loop=57600 length=4800 second=28800
notes=(0 60 $length $second 67 $length)
# The reference is the instrument's own render of those notes as a MIDI file (480 ticks a
# quarter at 120 bpm: 960 ticks a second, 50 samples a tick at 48 kHz).
python3 "$here/write_loop_midi.py" "$scratch/reference.mid" 50 "${notes[@]}" $loop
"$kvx" render "$patch" --midi "$scratch/reference.mid" --length $((2 * loop))smp \
    --out "$scratch/reference.wav" >/dev/null
pan_law=$(python3 -c 'print(10 ** (-3 / 20))')

failed=0
for frames in "$@"; do
    run=$scratch/buffer-$frames
    for attempt in 1 2; do
        rm -rf "$run" && mkdir -p "$run"
        jack_dummy_start "kvx-ardour-$$-$frames" "$frames" "$run/jackd.log"
        status=0
        timeout 40 ardour7-lua "$here/play_instrument.lua" "$run/session" "$uri" \
            "$here/record_track.sh $run/recording.wav 3 $loop ${notes[*]}" >"$run/ardour.log" 2>&1 || status=$?
        jack_dummy_stop
        if grep -q '^play_instrument: shell step exit 0' "$run/ardour.log" && [[ -s $run/recording.wav ]]; then
            ((status == 0)) || echo "buffer $frames: recorded, then Ardour's tool ended with status $status (crash on exit)"
            break
        fi
        # Ardour refusing the plug-in is final; a crash, a hang or a JACK client failing is retried.
        grep -q '^play_instrument: .*\(does not load\|refuses\)' "$run/ardour.log" && break
        echo "buffer $frames: no recording (Ardour's tool: status $status), attempt $attempt of 2"
        grep '^record_track: ' "$run/ardour.log" | sed 's/^/  /' || true
    done
    echo "buffer $frames:"
    grep '^play_instrument: ' "$run/ardour.log" | sed 's/^/  /'
    if [[ ! -s $run/recording.wav ]]; then
        echo "buffer $frames: FAILED: no recording (Ardour crashed or refused the plug-in):"
        grep -v '^Cannot\|^JackShm\|^jack server' "$run/ardour.log" | tail -20 | sed 's/^/  /'
        failed=1
        continue
    fi
    python3 "$here/compare_recording.py" "$run/recording.wav" "$scratch/reference.wav" $loop "$pan_law" 0 $second |
        sed 's/^/  /' || { echo "buffer $frames: FAILED: the recording is not the reference times the pan law"; failed=1; }
done
exit $failed
