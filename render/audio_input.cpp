// SPDX-License-Identifier: MIT
// Reading input files through libsndfile.
#include "render/audio_input.h"

#include <sndfile.h>

#include "render/error.h"
#include "render/plan.h"

namespace kvx::render {

namespace {

std::shared_ptr<const AudioInput> readAudioInput(const ScoreInputFile& file, const std::string& source) {
    // A flag names itself; a score field is prefixed with the score's name.
    const std::string where = file.field.rfind("--", 0) == 0 ? file.field : source + ": " + file.field;
    SF_INFO info{};
    SNDFILE* handle = sf_open(file.path.c_str(), SFM_READ, &info);
    if (handle == nullptr)
        throw RenderError(where + ": cannot read audio file '" + file.path + "': " + sf_strerror(nullptr));
    auto input = std::make_shared<AudioInput>();
    input->path = file.path;
    input->field = where;
    input->rate = info.samplerate;
    input->channels = info.channels;
    if (info.frames > MAX_LENGTH_SAMPLES || info.channels < 1) {
        sf_close(handle);
        throw RenderError(where + ": '" + file.path + "' is longer than " +
                          std::to_string(MAX_LENGTH_SAMPLES) + " samples");
    }
    std::vector<float> frames(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t read = sf_readf_float(handle, frames.data(), info.frames);
    sf_close(handle);
    if (read != info.frames)
        throw RenderError(where + ": cannot read audio file '" + file.path + "': it ends early");
    input->samples.resize(static_cast<size_t>(info.frames));
    for (size_t i = 0; i < input->samples.size(); ++i)
        input->samples[i] = frames[i * static_cast<size_t>(info.channels)];
    return input;
}

}  // namespace

AudioInputs readAudioInputs(const Score& score) {
    AudioInputs inputs(score.files.size());
    for (size_t i = 0; i < score.files.size(); ++i)
        if (score.files[i]) inputs[i] = readAudioInput(*score.files[i], score.source);
    return inputs;
}

}  // namespace kvx::render
