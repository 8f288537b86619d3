// WAV output through libsndfile.
#include "tools/render/wav.h"

#include <sndfile.h>

#include "tools/render/error.h"

namespace kvx::render {

SampleFormat parseSampleFormat(const std::string& text) {
    if (text == "float") return SampleFormat::Float;
    if (text == "pcm16") return SampleFormat::Pcm16;
    if (text == "pcm24") return SampleFormat::Pcm24;
    throw RenderError("--format: expected float, pcm16 or pcm24, got '" + text + "'");
}

const char* formatName(SampleFormat format) {
    switch (format) {
        case SampleFormat::Float:
            return "32-bit float";
        case SampleFormat::Pcm16:
            return "16-bit PCM";
        case SampleFormat::Pcm24:
            return "24-bit PCM";
    }
    return "?";
}

void writeWav(const std::string& path, const std::vector<float>& samples, int32_t rate, SampleFormat format) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | (format == SampleFormat::Float   ? SF_FORMAT_FLOAT
                                   : format == SampleFormat::Pcm16 ? SF_FORMAT_PCM_16
                                                                   : SF_FORMAT_PCM_24);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw RenderError("cannot write WAV '" + path + "': " + sf_strerror(nullptr));
    // Full-scale float 1.0 would otherwise wrap to the most negative integer.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The PEAK chunk carries a time stamp; without it the same render gives the same bytes.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const sf_count_t frames = static_cast<sf_count_t>(samples.size());
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    const std::string reason = sf_strerror(file);
    if (sf_close(file) != 0 || written != frames)
        throw RenderError("cannot write WAV '" + path + "': " + reason);
}

}  // namespace kvx::render
