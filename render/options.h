// SPDX-License-Identifier: MIT
// The settings of one render as a person typed them (flags, units still text), and what they
// make of the score, the block sizes and the sample rate. Units are parsed here rather than by
// the command-line parser so that every mistake gets the same kind of message.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "render/audio_input.h"
#include "render/envelope_profile.h"
#include "render/module.h"
#include "render/score.h"
#include "render/session.h"

namespace kvx::render {

struct RenderOptions {
    std::string plugin;
    std::string id;              // empty: the description's only (first) module, else "KV ADSR4"
    int32_t subtype = 0;         // with id
    std::string describe;        // a description file instead of the one beside the library
    std::string out, csv, plot;  // none given: out/<module symbol>.wav, .csv and .png; "-": standard output
    std::string format = "float";
    std::string rate, length, block = "64", seed = "1", score;
    std::array<std::string, ENVELOPE_FLAGS.size()> envelopeFlags;  // empty: not given
    std::vector<std::string> settings;                             // --set NAME=VALUE
    std::vector<std::string> inputs;                               // --input NAME=FILE
    std::vector<std::string> notes, resets;                        // "ON:OFF" and times; replace the score's
    std::string midi;                                              // a patch plays this MIDI file
    std::string scoreText;  // a score's JSON itself, in place of the file `score` (read as "score")
    bool filesRefused = false;  // a score that names an input file is refused (the studio's requests)
    // The description was held against the library already (the studio does it once, as it
    // starts: the check runs the module, which costs more than a short render).
    bool agreementChecked = false;
};

inline constexpr int32_t MAX_RATE = 768000;  // Hz
inline constexpr int32_t MAX_BLOCK = 65536;  // samples

// --block and --seed. Throws RenderError for anything but a whole number in range or "random".
BlockSizing blockSizing(const RenderOptions& options);

// The score to render for `module`: the file or the default score, inputs it leaves out taken
// from the default, and every flag laid over it. Throws RenderError naming the flag or field.
Score buildScore(const RenderOptions& options, const RenderModule& module);

// --rate, else the score's rate, else the rate of the first input file, else 48000; a whole
// number of Hz from 1 to MAX_RATE.
int32_t sampleRate(const RenderOptions& options, const Score& score, const AudioInputs& files);

}  // namespace kvx::render
