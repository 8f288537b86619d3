// SPDX-License-Identifier: MIT
// Sample accuracy: one note rendered in host blocks of 1, 7, 64 and 512 samples gives the same
// audio bit for bit, whether the host honours sleep (holding the last value, countdown of at
// least 1) or calls the module every block, and equals the reference sample by sample.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "tests/adsr/adsr_session.h"

namespace kvx::test {
namespace {

struct Note {
    std::string name;
    float rate;
    EnvelopeParams params;
    bool changingParams;  // parameters that change every sample, read at each segment's set-up
};

void PrintTo(const Note& note, std::ostream* os) { *os << note.name; }

// Trigger, retrigger in the decay, gate-off in the sustain, a reset in the release, a second
// note and its gate-off; events fall inside blocks and on their edges.
void addEvents(AdsrSession& session) {
    session.noteOff(0);  // before its first event a module writes nothing at all
    session.noteOn(100);
    session.noteOn(7000);
    session.noteOff(30001);
    session.event(31000, RESET, 1.0f);
    session.noteOn(35000);
    session.event(35000, RESET, 1.0f);
    session.noteOff(44800);
    session.noteOn(64 * 900);
    session.noteOff(64 * 900 + 3);
}

constexpr int64_t LENGTH = 64 * 1000;

// Sustain level, release time and attack curve that change on every sample of the session.
void setChangingParams(AdsrSession& session, const EnvelopeParams& base) {
    session.setParams(
        [base](int64_t t) {
            EnvelopeParams p = base;
            p.sustainLevel = 0.3f + 0.2f * static_cast<float>(std::sin(static_cast<double>(t) * 0.001));
            p.releaseTime = 0.2f + 0.1f * static_cast<float>(t % 97) / 97.0f;
            p.attackCurve = static_cast<float>(t % 13) / 13.0f - 0.5f;
            return p;
        },
        LENGTH);
}

std::vector<float> renderNote(const Note& note, int32_t blockSize, bool honourSleep, int64_t* slept,
                              std::vector<float>* reference) {
    AdsrSession session(note.rate, note.params);
    if (note.changingParams) setChangingParams(session, note.params);
    addEvents(session);
    session.blocks().runner().honourSleep = honourSleep;
    const std::vector<float> out = session.render(LENGTH, blockSize);
    *slept = session.blocks().runner().stats().blocksSlept;
    *reference = session.expected().output();
    return out;
}

class BlockSizes : public ::testing::TestWithParam<Note> {};

TEST_P(BlockSizes, GiveBitIdenticalAudioWithAndWithoutSleep) {
    const Note note = GetParam();
    std::vector<float> reference;
    int64_t slept = 0;
    const std::vector<float> first = renderNote(note, 1, false, &slept, &reference);
    ASSERT_EQ(firstDifference(first, reference), -1);
    for (float v : first) ASSERT_TRUE(std::isfinite(v));

    int64_t sleptAtAll = 0;
    for (bool honourSleep : {true, false}) {
        for (int32_t blockSize : {1, 7, 64, 512}) {
            SCOPED_TRACE("block size " + std::to_string(blockSize) +
                         (honourSleep ? ", sleeping" : ", always called"));
            std::vector<float> unused;
            const std::vector<float> out = renderNote(note, blockSize, honourSleep, &slept, &unused);
            EXPECT_EQ(firstDifference(out, first), -1);
            if (!honourSleep) {
                EXPECT_EQ(slept, 0);
            }
            sleptAtAll += slept;
        }
    }
    EXPECT_GT(sleptAtAll, 0);  // the sleeping path really ran
}

EnvelopeParams withSustain(float sustain, float curve = 0.3f) {
    EnvelopeParams p;
    p.sustainLevel = sustain;
    p.attackTime = 0.4f;
    p.decayTime = 0.45f;
    p.releaseTime = 0.35f;
    p.attackCurve = curve;
    p.decayCurve = -curve;
    p.releaseCurve = curve * 2.0f;
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    Notes, BlockSizes,
    ::testing::Values(Note{"typical", 48000.0f, withSustain(0.6f), false},
                      // Above 1.0: the sustain is declared constant one sample before it ends.
                      Note{"sustainAboveOne", 48000.0f, withSustain(1.2f), false},
                      Note{"sustainBelowZero", 44100.0f, withSustain(-0.5f, -1.0f), false},
                      Note{"oddRate", 7919.5f, withSustain(0.25f, 4.0f), false},
                      Note{"zeroRate", 0.0f, withSustain(0.5f), false},
                      Note{"changingInputs", 48000.0f, withSustain(0.5f), true}),
    [](const ::testing::TestParamInfo<Note>& info) { return info.param.name; });

// Parameter inputs announced as streaming, in the first pin-change group and in the middle of
// notes: the envelope stays bit-identical to the reference (inputs are read at segment starts
// only), no sample is left unwritten, and the module never asks to sleep while an input streams.
TEST(StreamingInputs, LeaveTheEnvelopeBitIdenticalAndKeepTheModuleAwake) {
    struct Span {
        int32_t pinId;
        int64_t from, to;  // stream begin at `from`, end at `to`
    };
    const Span spans[] = {{SUSTAIN, 0, 12345},             // with the first event, into the sustain
                          {RELEASE_TIME, 0, 20000},        // with the first event, past the sustain's start
                          {ATTACK_CURVE, 35000, 40001},    // with a retrigger and reset
                          {RELEASE_CURVE, 36000, 38000}};  // inside the second note
    // While any input streams: [0, 20000) and [35000, 40001).
    auto streamingAt = [](int64_t t) { return t < 20000 || (t >= 35000 && t < 40001); };
    const EnvelopeParams params = withSustain(0.5f);

    int64_t sleepRequests = 0;
    for (bool honourSleep : {true, false}) {
        for (int32_t blockSize : {1, 7, 64, 512}) {
            SCOPED_TRACE("block size " + std::to_string(blockSize) +
                         (honourSleep ? ", sleeping" : ", always called"));
            AdsrSession session(48000.0f, params);
            setChangingParams(session, params);
            addEvents(session);
            for (const Span& span : spans) {
                session.streaming(span.from, span.pinId, true);
                session.streaming(span.to, span.pinId, false);
            }
            session.streaming(50000, DECAY_TIME, false);  // a stop for an input that is still
            session.blocks().runner().honourSleep = honourSleep;
            const std::vector<float>& out = session.render(LENGTH, blockSize);
            EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
            EXPECT_EQ(session.reports(), session.expected().reports());

            // A block that ends while an input still streams never asks to sleep.
            for (const host::TraceEntry& call : session.blocks().trace()) {
                if (call.call != host::HostCall::RequestSleep) continue;
                ++sleepRequests;
                const int64_t lastSample = std::min<int64_t>(call.blockStart + blockSize, LENGTH) - 1;
                EXPECT_FALSE(streamingAt(lastSample))
                    << "sleep requested in the block from " << call.blockStart;
            }
        }
    }
    EXPECT_GT(sleepRequests, 0);  // the sleep path ran where nothing streamed
}

}  // namespace
}  // namespace kvx::test
