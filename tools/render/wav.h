// Writes the rendered envelope as a mono WAV file through libsndfile.
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

// Writes `samples` at `rate` to `path`. PCM formats clip at full scale rather than wrap.
// Throws RenderError with libsndfile's reason.
void writeWav(const std::string& path, const std::vector<float>& samples, int32_t rate, SampleFormat format);

}  // namespace kvx::render
