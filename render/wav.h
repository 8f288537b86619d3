// SPDX-License-Identifier: MIT
// Writes a render as a WAV file, one channel per output. Float files are written here with the
// header the format asks of a non-PCM encoding (an 18-byte fmt chunk and a fact chunk), which
// every common reader accepts without a warning; PCM files through libsndfile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvx::render {

enum class SampleFormat {
    Float,
    Pcm16,
    Pcm24
};

// "float", "pcm16", "pcm24"; throws RenderError otherwise.
SampleFormat parseSampleFormat(const std::string& text);
const char* formatName(SampleFormat format);

// Writes `channels` (equally long) at `rate` to `path`. PCM formats clip at full scale rather
// than wrap. Throws RenderError with the reason.
void writeWav(const std::string& path, const std::vector<std::vector<float>>& channels, int32_t rate,
              SampleFormat format);

}  // namespace kvx::render
