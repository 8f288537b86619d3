// SPDX-License-Identifier: MIT
// A render score: settings of the module's input pins, automation breakpoints, audio files fed
// to inputs, notes, resets and control changes, as read from a JSON file (or a module profile's
// default), times still in the units they were written in. Pins are named by symbol
// ('-' may stand for '_'); what a score may say depends on the module it is read for.
//
//   {
//     "length": "2s", "rate": 48000,
//     "parameters": {"attack": "100ms", "sustain": 0.5, "decay-curve": 0.4},
//     "notes": [{"on": 0, "off": "1.2s"}],
//     "resets": ["1.5s"],
//     "automation": {"decay": [["0.05s", "400ms"], ["0.09s", "50ms"]]},
//     "inputs": {"input": "sine.wav"},
//     "events": [{"at": "0.5s", "pin": "level", "value": "-6dB"}]
//   }
//
// Times are numbers in seconds or strings with s, ms or smp; a value may carry the pin's unit
// ("100ms", "-6dB"). Automation breakpoints ([time, value] or {"at": time, "value": value}) of
// audio inputs are joined by straight ramps; the value holds before the first and after the
// last. Notes need a gate pin (and use a trigger pin if there is one), resets a reset pin; events
// set control (bool or float) inputs; input files are WAV files, relative to the score's folder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "render/module.h"
#include "render/units.h"

namespace kvx::render {

struct ScoreNote {
    TimeSpec on;
    std::optional<TimeSpec> off;  // none: the gate stays on to the end
    // A patch's note: its MIDI key (0 to 127) and velocity (1 to 127); a module's notes have none.
    std::optional<int32_t> key;
    std::optional<int32_t> velocity;
    std::string field;  // where it was written, for messages
};

struct ScoreBreakpoint {
    TimeSpec at;
    ParameterSpec value;
    std::string field;
};

struct ScoreReset {
    TimeSpec at;
    std::string field;
};

// A control input's value from a time on.
struct ScoreEvent {
    TimeSpec at;
    size_t input;  // index into RenderModule::inputs
    ParameterSpec value;
    std::string field;
};

// An audio input fed from a WAV file.
struct ScoreInputFile {
    std::string path;  // as it is opened: relative to the score's folder, or as given on the command line
    std::string field;
};

// Items set by flags carry the flag as their field ("--note 1:2"); messages then name the flag.
struct Score {
    std::string source;  // the file name, or "default score"
    std::optional<TimeSpec> length;
    std::string lengthField = "length";
    std::optional<double> rate;
    // Per module input (RenderModule::inputs), as many as it has.
    std::vector<std::optional<ParameterSpec>> parameters;
    std::vector<std::vector<ScoreBreakpoint>> automation;  // audio inputs only
    std::vector<std::optional<ScoreInputFile>> files;      // audio inputs only
    std::vector<ScoreNote> notes;
    std::vector<ScoreReset> resets;
    std::vector<ScoreEvent> events;
    // Lines the render warns with before it runs (a --set value clamped to the described range).
    std::vector<std::string> warnings;
};

// A score for `module` with nothing set.
Score emptyScore(const RenderModule& module, std::string source);

// Parses score text for `module`. Throws RenderError starting with `source`, naming the line and
// column of a syntax error or the field of a wrong value, and saying what was expected.
Score parseScore(const std::string& text, const std::string& source, const RenderModule& module);
// Reads and parses a score file; input files are found relative to its folder.
Score loadScore(const std::string& path, const RenderModule& module);
// The score rendered when none is given: the module profile's, or else every input at its
// description's default.
Score defaultScore(const RenderModule& module);

}  // namespace kvx::render
