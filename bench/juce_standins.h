// The few JUCE names juce::ADSR uses, so that its header-only class compiles without the rest
// of JUCE: the export macro, the assertion macro and a one-channel-or-more AudioBuffer.
#pragma once

#include <algorithm>
#include <vector>

#define JUCE_API
#define jassert(expression) ((void)0)

namespace juce {

template <typename FloatType>
class AudioBuffer {
public:
    AudioBuffer(int channels, int samples)
        : data(static_cast<size_t>(channels) * static_cast<size_t>(samples)), channelCount(channels), length(samples) {}
    int getNumChannels() const noexcept { return channelCount; }
    int getNumSamples() const noexcept { return length; }
    FloatType* getWritePointer(int channel) noexcept { return data.data() + static_cast<size_t>(channel) * length; }
    const FloatType* getReadPointer(int channel) const noexcept { return data.data() + static_cast<size_t>(channel) * length; }
    void clear(int start, int count) noexcept {
        for (int c = 0; c < channelCount; ++c) std::fill_n(getWritePointer(c) + start, count, FloatType(0));
    }
    void applyGain(int start, int count, FloatType gain) noexcept {
        for (int c = 0; c < channelCount; ++c) {
            FloatType* samples = getWritePointer(c) + start;
            for (int i = 0; i < count; ++i) samples[i] *= gain;
        }
    }

private:
    std::vector<FloatType> data;
    int channelCount;
    int length;
};

}  // namespace juce

#include <juce_audio_basics/utilities/juce_ADSR.h>
