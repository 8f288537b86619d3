// The settings of one render as a person typed them (flags, units still text), and what they
// make of the score, the block sizes and the sample rate. Units are parsed here rather than by
// the command-line parser so that every mistake gets the same kind of message.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/render/parameters.h"
#include "tools/render/score.h"
#include "tools/render/session.h"

namespace kvx::render {

struct RenderOptions {
    std::string plugin;
    std::string out, csv, plot;  // none given: out/adsr.wav, .csv and .png
    std::string format = "float";
    std::string rate, length, block = "64", seed = "1", score;
    std::array<std::string, PARAMETER_COUNT> parameters;  // empty: from the score
    std::vector<std::string> notes, resets;               // "ON:OFF" and times; replace the score's
};

inline constexpr int32_t MAX_RATE = 768000;  // Hz
inline constexpr int32_t MAX_BLOCK = 65536;  // samples

// --block and --seed. Throws RenderError for anything but a whole number in range or "random".
BlockSizing blockSizing(const RenderOptions& options);

// The score to render: the file or the embedded default, parameters it leaves out taken from
// the default, and every flag laid over it. Throws RenderError naming the flag or field.
Score buildScore(const RenderOptions& options);

// --rate, else the score's rate, else 48000; a whole number of Hz from 1 to MAX_RATE.
int32_t sampleRate(const RenderOptions& options, const Score& score);

}  // namespace kvx::render
