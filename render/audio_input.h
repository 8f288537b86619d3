// SPDX-License-Identifier: MIT
// Audio files fed to a module's audio inputs (--input NAME=FILE, a score's "inputs"): read whole,
// first channel, as 32-bit float samples.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "render/score.h"

namespace kvx::render {

struct AudioInput {
    std::string path;
    std::string field;  // where it was named, for messages
    int32_t rate = 0;
    int32_t channels = 0;
    std::vector<float> samples;  // the first channel
};

// Per module input, as Score::files: the file read, or nothing.
using AudioInputs = std::vector<std::shared_ptr<const AudioInput>>;

// Reads every file the score names. Throws RenderError naming the field and the file.
AudioInputs readAudioInputs(const Score& score);

}  // namespace kvx::render
