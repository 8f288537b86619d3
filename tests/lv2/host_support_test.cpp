// SPDX-License-Identifier: MIT
// What the lilv hosts share: URIDs are stable and start at 1 (0 means "no URID"), and a MIDI
// sequence takes events up to its buffer's size and refuses the one that would not fit, leaving
// the sequence as it was.
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>

#include "lv2/host_support/midi_sequence.h"
#include "lv2/host_support/uri_map.h"

namespace kvx::lv2 {
namespace {

TEST(UriMap, NumbersFromOneAndKeepsThem) {
    UriMap uris;
    LV2_URID_Map* feature = uris.feature();
    EXPECT_EQ(feature->map(feature->handle, LV2_ATOM__Int), 1u);
    EXPECT_EQ(uris.map(LV2_MIDI__MidiEvent), 2u);
    EXPECT_EQ(feature->map(feature->handle, LV2_MIDI__MidiEvent), 2u);
    EXPECT_EQ(uris.map(LV2_ATOM__Int), 1u);
}

TEST(MidiSequence, FillsItsBufferExactlyAndRefusesWhatDoesNotFit) {
    UriMap uris;
    const uint32_t event = lv2_atom_pad_size(sizeof(LV2_Atom_Event) + 3);  // 24 bytes
    MidiSequence midi(uris, sizeof(LV2_Atom_Sequence) + 2 * event);
    const auto* sequence = static_cast<const LV2_Atom_Sequence*>(midi.buffer());
    EXPECT_EQ(sequence->atom.type, uris.map(LV2_ATOM__Sequence));
    EXPECT_EQ(sequence->atom.size, sizeof(LV2_Atom_Sequence_Body));
    EXPECT_TRUE(midi.add(0, 0x90, 60, 100));
    EXPECT_TRUE(midi.add(31, 0x80, 60, 0));
    EXPECT_FALSE(midi.add(32, 0x90, 61, 100));
    EXPECT_EQ(sequence->atom.size, sizeof(LV2_Atom_Sequence_Body) + 2 * event);
    int64_t frames[2] = {-1, -1};
    uint8_t statuses[2] = {};
    int count = 0;
    LV2_ATOM_SEQUENCE_FOREACH(sequence, ev) {
        ASSERT_LT(count, 2);
        EXPECT_EQ(ev->body.type, uris.map(LV2_MIDI__MidiEvent));
        EXPECT_EQ(ev->body.size, 3u);
        frames[count] = ev->time.frames;
        statuses[count++] = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&ev->body))[0];
    }
    EXPECT_EQ(count, 2);
    EXPECT_EQ(frames[0], 0);
    EXPECT_EQ(frames[1], 31);
    EXPECT_EQ(statuses[0], 0x90);
    EXPECT_EQ(statuses[1], 0x80);
    midi.clear();
    EXPECT_EQ(sequence->atom.size, sizeof(LV2_Atom_Sequence_Body));
    EXPECT_TRUE(midi.add(5, 0x90, 62, 1));
}

}  // namespace
}  // namespace kvx::lv2
