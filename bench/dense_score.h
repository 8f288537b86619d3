// SPDX-License-Identifier: MIT
// A dense score for the instrument cases, generated in code (the same every run): chords of 4
// or 5 notes every 83 ms, some on the block grid and some off it, overlapping notes of 62 to
// 560 ms, so that more than 16 voices sound and notes steal. Note offs come before note ons at
// one sample.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "host/note_event.h"

namespace kvx::bench {

inline constexpr int64_t SCORE_SAMPLES = 8 * 48000;  // 8 s
inline constexpr int32_t SCORE_VOICES = 16;

struct ScoreEvent {
    int64_t time = 0;
    host::NoteEvent event;  // its timestamp is set per block
};

const std::vector<ScoreEvent>& denseScore();

// The score cut into blocks of `block` samples: each block's events, timestamps in the block.
class ScoreBlocks {
public:
    explicit ScoreBlocks(int32_t block);
    int32_t block() const noexcept { return length; }
    size_t count() const noexcept { return first.size() - 1; }
    std::span<const host::NoteEvent> events(size_t index) const noexcept {
        return {all.data() + first[index], first[index + 1] - first[index]};
    }

private:
    int32_t length;
    std::vector<host::NoteEvent> all;
    std::vector<size_t> first;  // per block, then the end
};

}  // namespace kvx::bench
