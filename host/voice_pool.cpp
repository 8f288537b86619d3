// SPDX-License-Identifier: MIT
// VoicePool: creating the voices, the block loop, and the host side of the sleep protocol.
#include "host/voice_pool.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "host/accepted_pins.h"
#include "host/host_error.h"
#include "interfaces/result_codes.h"

namespace kvx::host {

namespace {

constexpr size_t LINE_BYTES = 64;
constexpr size_t LINE_FLOATS = LINE_BYTES / sizeof(float);

size_t wholeLines(size_t floats) { return (floats + LINE_FLOATS - 1) / LINE_FLOATS * LINE_FLOATS; }

// Storage for `floats` samples starting on a cache line, all 0.0.
float* lineAlignedStorage(std::unique_ptr<float[]>& storage, size_t floats) {
    storage = std::make_unique<float[]>(floats + LINE_FLOATS);
    const auto address = reinterpret_cast<uintptr_t>(storage.get());
    return storage.get() + (LINE_BYTES - address % LINE_BYTES) % LINE_BYTES / sizeof(float);
}

}  // namespace

VoicePool::VoicePool(const PluginLibrary& library, std::u16string_view id, int32_t subtype, int32_t voices,
                     const VoiceLayout& layout, float sampleRate)
    : voiceCount(voices), maxBlock(layout.maxBlock), inputPins(layout.inputPins) {
    if (voices < 0 || maxBlock <= 0) {
        throw HostError("voice pool: " + std::to_string(voices) + " voices of blocks up to " +
                        std::to_string(maxBlock) + " samples");
    }
    const size_t count = index(voices);
    stride = wholeLines(index(maxBlock));
    hosts = std::make_unique<VoiceHost[]>(count);
    outputs = lineAlignedStorage(outputArena, stride * count);
    inputs = lineAlignedStorage(inputArena, stride * inputPins.size() * count);
    awake.reserve(count);
    calling.reserve(count);
    callEvents.reserve(count);
    try {
        for (int32_t v = 0; v < voices; ++v) {
            VoiceHost& voice = hosts[index(v)];
            voice.outputPin = layout.outputPin;
            voice.sampleRate = sampleRate;
            voice.output = outputs + stride * index(v);
            voice.plugin = createPlugin(library, id, subtype, voice.asUnknown());
            const std::vector<int32_t> accepted = acceptedPins(*voice.plugin);
            for (int32_t pin : inputPins) bind(voice, pin, input(v, pin));
            bind(voice, layout.outputPin, voice.output);
            for (int32_t pin : accepted) {
                if (pin == layout.outputPin ||
                    std::find(inputPins.begin(), inputPins.end(), pin) != inputPins.end())
                    continue;
                spareBuffers.push_back(std::make_unique<float[]>(index(maxBlock)));
                bind(voice, pin, spareBuffers.back().get());
            }
            voice.plugin->openModule();
            awake.push_back(v);  // until a voice asks to sleep
        }
    } catch (...) {
        releaseVoices();
        throw;
    }
}

VoicePool::~VoicePool() { releaseVoices(); }

void VoicePool::releaseVoices() noexcept {
    for (size_t v = 0; v < index(voiceCount); ++v) {
        if (hosts[v].plugin != nullptr) hosts[v].plugin->release();
        hosts[v].plugin = nullptr;
    }
}

void VoicePool::bind(VoiceHost& voice, int32_t pinId, float* buffer) {
    const int32_t result = voice.plugin->bindPinBuffer(pinId, buffer);
    if (result != RESULT_OK) {
        throw HostError("voice pool: the module refuses a buffer for pin " + std::to_string(pinId) +
                        " (result " + std::to_string(result) + ")");
    }
}

float* VoicePool::input(int32_t voice, int32_t pinId) noexcept {
    const auto found = std::find(inputPins.begin(), inputPins.end(), pinId);
    if (found == inputPins.end() || voice < 0 || voice >= voiceCount) return nullptr;
    const size_t slot = index(voice) * inputPins.size() + static_cast<size_t>(found - inputPins.begin());
    return inputs + stride * slot;
}

void VoicePool::checkEvents(std::span<const VoiceEvents> events) const {
    int32_t previous = -1;
    for (const VoiceEvents& entry : events) {
        if (entry.voice <= previous || entry.voice >= voiceCount)
            throw HostError("voice pool: events for voice " + std::to_string(entry.voice) +
                            " out of voice order or for no voice");
        previous = entry.voice;
    }
}

void VoicePool::visitVoices(int32_t sampleCount, std::span<const VoiceEvents> events) {
    if (sampleCount > maxBlock) {
        throw HostError("voice pool: a block of " + std::to_string(sampleCount) + " samples, buffers of " +
                        std::to_string(maxBlock));
    }
    const int32_t fillCount = sampleCount > 0 ? sampleCount : 0;
    if (honourSleep && events.empty()) {
        // The awake voices, none with events: the list is kept in place.
        ++counters.blocks;
        size_t kept = 0;
        for (const int32_t v : awake)
            if (visit(hosts[index(v)], sampleCount, fillCount, nullptr)) awake[kept++] = v;
        awake.resize(kept);
        return;
    }
    checkEvents(events);
    ++counters.blocks;
    collectCalls(events);
    awake.clear();
    for (size_t i = 0; i < calling.size(); ++i)
        if (visit(hosts[index(calling[i])], sampleCount, fillCount, callEvents[i]))
            awake.push_back(calling[i]);
}

bool VoicePool::visit(VoiceHost& voice, int32_t sampleCount, int32_t fillCount,
                      const HostEvent* events) noexcept {
    if (voice.asleep) {
        // Fell asleep last block, declared constant after its start: hold from the start.
        std::fill(voice.output, voice.output + voice.heldFrom, voice.held);
        voice.heldFrom = 0;
        return false;
    }
    callVoice(voice, sampleCount, fillCount, events);
    return !voice.asleep || voice.heldFrom > 0;
}

void VoicePool::collectCalls(std::span<const VoiceEvents> events) noexcept {
    calling.clear();
    callEvents.clear();
    auto add = [this](int32_t voice, const HostEvent* list) {
        // A sleeping voice wakes for events (or when sleep is not honoured); otherwise it is
        // visited only to finish holding its value.
        if (list != nullptr || !honourSleep) hosts[index(voice)].asleep = false;
        calling.push_back(voice);
        callEvents.push_back(list);
    };
    if (!honourSleep) {
        auto next = events.begin();
        for (int32_t v = 0; v < voiceCount; ++v) {
            const bool has = next != events.end() && next->voice == v;
            add(v, has ? (next++)->events : nullptr);
        }
        return;
    }
    // Merge the awake voices with those that have events, both ascending.
    auto awakeVoice = awake.begin();
    auto next = events.begin();
    while (awakeVoice != awake.end() || next != events.end()) {
        if (next == events.end() || (awakeVoice != awake.end() && *awakeVoice < next->voice)) {
            add(*awakeVoice++, nullptr);
        } else if (awakeVoice != awake.end() && *awakeVoice == next->voice) {
            add(*awakeVoice++, (next++)->events);
        } else if (next->events != nullptr) {
            add(next->voice, next->events);
            ++next;
        } else {
            ++next;  // a sleeping voice with an empty list stays asleep
        }
    }
}

void VoicePool::callVoice(VoiceHost& voice, int32_t sampleCount, int32_t fillCount,
                          const HostEvent* events) noexcept {
    voice.heldFrom = 0;
    voice.countdown = std::max(minimumCountdown, sampleCount);
    voice.sleepRequested = false;
    voice.reportedThisCall = false;
    voice.plugin->process(sampleCount, events);
    ++counters.calls;

    // The value the output holds from the position where it was declared constant in this call.
    const bool constant = voice.report == VoiceHost::Report::Constant;
    int32_t constantFrom = 0;
    if (constant && voice.reportedThisCall && voice.reportTimestamp >= 0 &&
        voice.reportTimestamp < fillCount) {
        constantFrom = voice.reportTimestamp;
        voice.held = voice.output[constantFrom];
    }
    if (!voice.sleepRequested) return;
    ++counters.sleepRequests;
    // Samples after the sleep request were not written: the held value holds there. A sleeping
    // voice's buffer holds it to its end, so that later blocks of any size find it there; the
    // samples before `constantFrom` are this block's and get it at the next block.
    const int32_t end = honourSleep ? maxBlock : fillCount;
    if (constant) std::fill(voice.output + constantFrom, voice.output + end, voice.held);
    if (honourSleep) {
        voice.asleep = true;
        voice.heldFrom = constant ? constantFrom : maxBlock;
    }
}

}  // namespace kvx::host
