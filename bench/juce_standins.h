// SPDX-License-Identifier: MIT
// The few JUCE names juce::ADSR uses, so that its header-only class compiles without the rest
// of JUCE: the export macro, the assertion macro and a one-channel-or-more AudioBuffer whose
// clear and applyGain are vectorised like JUCE's own (memset, SSE multiplies).
#pragma once

#include <immintrin.h>

#include <cstring>
#include <vector>

#define JUCE_API
#define jassert(expression) ((void)0)

namespace juce {

template <typename FloatType>
class AudioBuffer {
public:
    AudioBuffer(int channels, int samples)
        : data(static_cast<size_t>(channels) * static_cast<size_t>(samples)),
          channelCount(channels),
          length(samples) {}
    int getNumChannels() const noexcept { return channelCount; }
    int getNumSamples() const noexcept { return length; }
    FloatType* getWritePointer(int channel) noexcept {
        return data.data() + static_cast<size_t>(channel) * length;
    }
    const FloatType* getReadPointer(int channel) const noexcept {
        return data.data() + static_cast<size_t>(channel) * length;
    }
    void clear(int start, int count) noexcept {
        for (int c = 0; c < channelCount; ++c)
            std::memset(getWritePointer(c) + start, 0, static_cast<size_t>(count) * sizeof(FloatType));
    }
    void applyGain(int start, int count, float gain) noexcept {
        static_assert(sizeof(FloatType) == sizeof(float), "the stand-in handles float buffers");
        const __m128 factor = _mm_set1_ps(gain);
        for (int c = 0; c < channelCount; ++c) {
            float* samples = getWritePointer(c) + start;
            int i = 0;
            for (; i + 4 <= count; i += 4)
                _mm_storeu_ps(samples + i, _mm_mul_ps(_mm_loadu_ps(samples + i), factor));
            for (; i < count; ++i) samples[i] *= gain;
        }
    }

private:
    std::vector<FloatType> data;
    int channelCount;
    int length;
};

}  // namespace juce

#include <juce_audio_basics/utilities/juce_ADSR.h>
