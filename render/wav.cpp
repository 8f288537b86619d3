// SPDX-License-Identifier: MIT
// WAV output through libsndfile.
#include "render/wav.h"

#include <sndfile.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "render/error.h"

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

namespace {

// Little-endian fields of the RIFF header.
void put16(std::vector<unsigned char>& bytes, uint32_t value) {
    bytes.push_back(static_cast<unsigned char>(value));
    bytes.push_back(static_cast<unsigned char>(value >> 8));
}
void put32(std::vector<unsigned char>& bytes, uint32_t value) {
    put16(bytes, value & 0xFFFFu);
    put16(bytes, value >> 16);
}
void putTag(std::vector<unsigned char>& bytes, const char* tag) { bytes.insert(bytes.end(), tag, tag + 4); }

// RIFF/WAVE, IEEE float (format 3): fmt with cbSize 0, fact with the frame count, then data.
void writeFloatWav(const std::string& path, const std::vector<std::vector<float>>& channels, int32_t rate) {
    const uint32_t channelCount = static_cast<uint32_t>(channels.size());
    const uint64_t frames = channels.empty() ? 0 : channels.front().size();
    const uint64_t dataBytes = frames * channelCount * 4;
    if (dataBytes > 0xFFFFFFFFull - 64)
        throw RenderError("cannot write WAV '" + path + "': longer than 4 GiB");
    std::vector<unsigned char> bytes;
    bytes.reserve(58 + static_cast<size_t>(dataBytes));
    putTag(bytes, "RIFF");
    put32(bytes, static_cast<uint32_t>(4 + (8 + 18) + (8 + 4) + (8 + dataBytes)));
    putTag(bytes, "WAVE");
    putTag(bytes, "fmt ");
    put32(bytes, 18);
    put16(bytes, 3);  // WAVE_FORMAT_IEEE_FLOAT
    put16(bytes, channelCount);
    put32(bytes, static_cast<uint32_t>(rate));
    put32(bytes, static_cast<uint32_t>(rate) * channelCount * 4);  // bytes per second
    put16(bytes, channelCount * 4);                                // bytes per frame
    put16(bytes, 32);                                              // bits per sample
    put16(bytes, 0);                                               // no extension
    putTag(bytes, "fact");
    put32(bytes, 4);
    put32(bytes, static_cast<uint32_t>(frames));
    putTag(bytes, "data");
    put32(bytes, static_cast<uint32_t>(dataBytes));
    for (uint64_t n = 0; n < frames; ++n) {
        for (const std::vector<float>& channel : channels) {
            uint32_t word;
            std::memcpy(&word, &channel[static_cast<size_t>(n)], sizeof word);
            put32(bytes, word);
        }
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) throw RenderError("cannot write WAV '" + path + "': " + std::strerror(errno));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    FILE* raw = file.release();
    if (std::fclose(raw) != 0 || !written)
        throw RenderError("cannot write WAV '" + path + "': " + std::strerror(errno));
}

}  // namespace

void writeWav(const std::string& path, const std::vector<std::vector<float>>& channels, int32_t rate,
              SampleFormat format) {
    if (format == SampleFormat::Float) {
        writeFloatWav(path, channels, rate);
        return;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = static_cast<int>(channels.size());
    info.format = SF_FORMAT_WAV | (format == SampleFormat::Pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw RenderError("cannot write WAV '" + path + "': " + sf_strerror(nullptr));
    // Full-scale float 1.0 would otherwise wrap to the most negative integer.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The PEAK chunk carries a time stamp; without it the same render gives the same bytes.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const size_t frames = channels.empty() ? 0 : channels.front().size();
    std::vector<float> interleaved(frames * channels.size());
    for (size_t n = 0; n < frames; ++n)
        for (size_t c = 0; c < channels.size(); ++c) interleaved[n * channels.size() + c] = channels[c][n];
    const sf_count_t written = sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(frames));
    const std::string reason = sf_strerror(file);
    if (sf_close(file) != 0 || written != static_cast<sf_count_t>(frames))
        throw RenderError("cannot write WAV '" + path + "': " + reason);
}

}  // namespace kvx::render
