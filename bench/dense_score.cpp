// SPDX-License-Identifier: MIT
#include "bench/dense_score.h"

#include <algorithm>

namespace kvx::bench {

const std::vector<ScoreEvent>& denseScore() {
    static const std::vector<ScoreEvent> score = [] {
        uint32_t seed = 20261209u;
        auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;  // a fixed LCG: the same score everywhere
            return seed >> 8;
        };
        constexpr uint8_t CHORD[] = {0, 4, 7, 11, 14};
        std::vector<ScoreEvent> events;
        for (int64_t t = 0; t + 48000 < SCORE_SAMPLES; t += 4000) {
            const int64_t at = t + ((next() % 2) != 0 ? 0 : next() % 1500);
            const auto base = static_cast<uint8_t>(48 + next() % 24);
            const uint32_t notes = 4 + next() % 2;
            for (uint32_t i = 0; i < notes; ++i) {
                const auto key = static_cast<uint8_t>(base + CHORD[i]);
                const int64_t length = 3000 + next() % 24000;
                const float velocity = static_cast<float>(40 + next() % 88) / 127.0f;
                events.push_back({at, {0, host::NoteEventKind::NoteOn, key, velocity}});
                events.push_back({at + length, {0, host::NoteEventKind::NoteOff, key, 0.0f}});
            }
        }
        std::stable_sort(events.begin(), events.end(), [](const ScoreEvent& a, const ScoreEvent& b) {
            if (a.time != b.time) return a.time < b.time;
            return a.event.kind == host::NoteEventKind::NoteOff && b.event.kind != host::NoteEventKind::NoteOff;
        });
        return events;
    }();
    return score;
}

ScoreBlocks::ScoreBlocks(int32_t block) : length(block) {
    const std::vector<ScoreEvent>& score = denseScore();
    size_t next = 0;
    for (int64_t start = 0; start < SCORE_SAMPLES; start += block) {
        first.push_back(all.size());
        for (; next < score.size() && score[next].time < start + block; ++next) {
            host::NoteEvent event = score[next].event;
            event.timestamp = static_cast<int32_t>(score[next].time - start);
            all.push_back(event);
        }
    }
    first.push_back(all.size());
}

}  // namespace kvx::bench
