// A render score: notes, resets, parameter settings and automation breakpoints, as read from a
// JSON file (or the embedded default), times still in the units they were written in.
//
//   {
//     "length": "2s", "rate": 48000,
//     "parameters": {"attack": "100ms", "sustain": 0.5, "decay-curve": 0.4},
//     "notes": [{"on": 0, "off": "1.2s"}],
//     "resets": ["1.5s"],
//     "automation": {"decay": [["0.05s", "400ms"], ["0.09s", "50ms"]]}
//   }
//
// Times are numbers in seconds or strings with s, ms or smp; a time parameter's value may be a
// duration string. Automation breakpoints ([time, value] or {"at": time, "value": value}) are
// joined by straight ramps; the value holds before the first and after the last.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tools/render/parameters.h"
#include "tools/render/units.h"

namespace kvx::render {

struct ScoreNote {
    TimeSpec on;
    std::optional<TimeSpec> off;  // none: the gate stays on to the end
    std::string field;            // where it was written, for messages
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

// Items set by flags carry the flag as their field ("--note 1:2"); messages then name the flag.
struct Score {
    std::string source;  // the file name, or "default score"
    std::optional<TimeSpec> length;
    std::string lengthField = "length";
    std::optional<double> rate;
    std::array<std::optional<ParameterSpec>, PARAMETER_COUNT> parameters;
    std::array<std::vector<ScoreBreakpoint>, PARAMETER_COUNT> automation;
    std::vector<ScoreNote> notes;
    std::vector<ScoreReset> resets;
};

// Parses score text. Throws RenderError starting with `source`, naming the line and column of a
// syntax error or the field of a wrong value, and saying what was expected.
Score parseScore(const std::string& text, const std::string& source);
// Reads and parses a score file.
Score loadScore(const std::string& path);
// The score rendered when none is given: 2 s long, one note on at 0 and off at 1.2 s, and every
// parameter set.
Score defaultScore();
// Its text, for --help and the README.
const char* defaultScoreText();

}  // namespace kvx::render
