// SPDX-License-Identifier: MIT
// VoicePool: many instances of one module run block by block as a real host runs its voices,
// honouring sleep at the cost of nothing for a sleeping voice. Each voice's host state sits on
// one cache line of one array, its output in one buffer arena; a block visits only the voices
// that are awake or have events, in ascending order.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "host/voice_host.h"
#include "interfaces/host_event.h"

namespace kvx::host {

// Which pins of the module get host buffers, and how long they are.
struct VoiceLayout {
    std::vector<int32_t> inputPins;  // audio inputs, each bound to a buffer of its own per voice
    int32_t outputPin = 0;           // the audio output whose value is held while a voice sleeps
    int32_t maxBlock = 64;           // the largest block runBlock accepts
};

// The events of one voice for the coming block.
struct VoiceEvents {
    int32_t voice;
    const HostEvent* events;  // null: none (a sleeping voice stays asleep)
};

struct VoicePoolStats {
    int64_t blocks = 0;         // runBlock calls
    int64_t calls = 0;          // process() calls, over all voices
    int64_t sleepRequests = 0;  // over all voices
};

class VoicePool {
public:
    // Creates `voices` instances of module (id, subtype), each attached to a host of its own
    // that reports `sampleRate`, with its buffers bound and openModule called. The buffers hold
    // 0.0; every other pin the module accepts gets a buffer of its own too. Throws HostError when the factory
    // refuses, a buffer cannot be bound, or the layout is unusable.
    VoicePool(const PluginLibrary& library, std::u16string_view id, int32_t subtype, int32_t voices,
              const VoiceLayout& layout, float sampleRate = 48000.0f);
    ~VoicePool();
    VoicePool(const VoicePool&) = delete;
    VoicePool& operator=(const VoicePool&) = delete;

    // false: call every voice every block, ignoring sleep requests.
    bool honourSleep = true;
    // The countdown handed out is max(minimumCountdown, the block size), as SleepingRunner's.
    int32_t minimumCountdown = 1;

    // Runs one block of every voice. A voice is called when it is awake or `events` holds a
    // list for it; a sleeping voice without events is not touched, and its output keeps the
    // value it held. `events` is in ascending voice order, one entry per voice at most. Throws
    // HostError, before any voice runs, when `sampleCount` exceeds the layout's maxBlock or
    // `events` is out of order or names no voice; a negative count reaches the voices as it is
    // but fills nothing. Allocates nothing.
    void runBlock(int32_t sampleCount, std::span<const VoiceEvents> events = {}) {
        if (honourSleep && awake.empty() && events.empty() && sampleCount <= maxBlock) {
            ++counters.blocks;  // every voice asleep, none with events: nothing else to do
            return;
        }
        visitVoices(sampleCount, events);
    }

    int32_t size() const noexcept { return voiceCount; }
    // The voice's output for the last block: sample i is output(voice)[i].
    const float* output(int32_t voice) const noexcept { return hosts[index(voice)].output; }
    // The voice's buffer for an input pin of the layout (null for another pin): what the host
    // writes there before a block is what the module reads in it.
    float* input(int32_t voice, int32_t pinId) noexcept;
    IMpPlugin2* plugin(int32_t voice) const noexcept { return hosts[index(voice)].plugin; }
    // The voice's host services and the pool's state of it (one cache line).
    const VoiceHost& voiceHost(int32_t voice) const noexcept { return hosts[index(voice)]; }
    bool asleep(int32_t voice) const noexcept { return hosts[index(voice)].asleep; }
    // The value a sleeping voice's output holds.
    float heldValue(int32_t voice) const noexcept { return hosts[index(voice)].held; }
    const VoicePoolStats& stats() const noexcept { return counters; }

private:
    static size_t index(int32_t voice) noexcept { return static_cast<size_t>(voice); }
    void bind(VoiceHost& voice, int32_t pinId, float* buffer);
    // runBlock for a block in which some voice is awake or has events.
    void visitVoices(int32_t sampleCount, std::span<const VoiceEvents> events);
    // Throws HostError for events out of voice order or for no voice.
    void checkEvents(std::span<const VoiceEvents> events) const;
    void releaseVoices() noexcept;
    // This block's calls: the awake voices (every voice when sleep is not honoured) merged with
    // those that have events, ascending.
    void collectCalls(std::span<const VoiceEvents> events) noexcept;
    // Calls an awake voice, or finishes holding the value of one that fell asleep last block.
    // Returns whether the next block visits it again.
    bool visit(VoiceHost& voice, int32_t sampleCount, int32_t fillCount, const HostEvent* events) noexcept;
    void callVoice(VoiceHost& voice, int32_t sampleCount, int32_t fillCount,
                   const HostEvent* events) noexcept;

    int32_t voiceCount;
    int32_t maxBlock;
    std::vector<int32_t> inputPins;
    size_t stride = 0;                   // floats from one buffer to the next: whole cache lines
    std::unique_ptr<VoiceHost[]> hosts;  // one cache line per voice
    std::unique_ptr<float[]> outputArena;
    std::unique_ptr<float[]> inputArena;
    // A buffer of maxBlock for each pin the module accepts beyond the layout's, per voice: no
    // description leaves a pin the module reads or writes without one.
    std::vector<std::unique_ptr<float[]>> spareBuffers;
    float* outputs = nullptr;  // voice v's output at outputs + v * stride
    float* inputs = nullptr;   // voice v's i-th input at inputs + (v * inputPins.size() + i) * stride
    // The voices the next block visits, ascending: the awake ones and those that fell asleep
    // after the start of their last block (their output still wants the held value there).
    std::vector<int32_t> awake;
    std::vector<int32_t> calling;              // this block's visits (scratch)
    std::vector<const HostEvent*> callEvents;  // the events of calling[i]
    VoicePoolStats counters;
};

}  // namespace kvx::host
