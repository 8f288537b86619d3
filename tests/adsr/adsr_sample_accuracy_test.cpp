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

std::vector<float> renderNote(const Note& note, int32_t blockSize, bool honourSleep, int64_t* slept,
                              std::vector<float>* reference) {
    AdsrSession session(note.rate, note.params);
    if (note.changingParams) {
        session.setParams(
            [base = note.params](int64_t t) {
                EnvelopeParams p = base;
                p.sustainLevel = 0.3f + 0.2f * static_cast<float>(std::sin(static_cast<double>(t) * 0.001));
                p.releaseTime = 0.2f + 0.1f * static_cast<float>(t % 97) / 97.0f;
                p.attackCurve = static_cast<float>(t % 13) / 13.0f - 0.5f;
                return p;
            },
            LENGTH);
    }
    addEvents(session);
    session.blocks().runner().honourSleep = honourSleep;
    session.blocks().poisonOutput = true;
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

}  // namespace
}  // namespace kvx::test
