// SPDX-License-Identifier: MIT
// What the patch tests share: the test patches' modules as the patch reader would describe them
// (the envelope, the VCA, the oscillator, and the test modules Sum and StreamProbe), a score of notes and
// ramps, a patch run over a block schedule, and one module rendered alone by kvx render's own block loop, to
// hold the patch against.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/patch.h"
#include "host/patch_graph.h"
#include "render/session.h"

namespace kvx::test {

inline constexpr int32_t PATCH_MAX_BLOCK = 4096;

// The modules, with every input's value (unlisted: 0); the envelope's times are short enough
// for a note to run through all its segments in a few thousand samples.
host::PatchModule adsrModule(const std::string& name, float sustain = 0.5f);
host::PatchModule vcaModule(const std::string& name, float control = 1.0f, float levelDb = 0.0f);
// The oscillator at `hertz` (its description's mapping: 0.1 per octave above 16 Hz), a sine.
host::PatchModule oscModule(const std::string& name, double hertz = 440.0);
host::PatchModule sumModule(const std::string& name);
host::PatchModule probeModule(const std::string& name);
// `module`'s input values by pin id, as adsrModule etc. set them.
std::map<int32_t, float> inputValues(const host::PatchModule& module);

struct Note {
    int32_t module;  // an envelope
    int64_t on;
    int64_t off;
};

// A straight ramp on an audio input no connection feeds, driven by the caller: `from` up to
// `begin`, `to` from `end` on, streaming in between.
struct Ramp {
    int32_t module;
    int32_t pin;
    int64_t begin;
    int64_t end;
    float from;
    float to;
};

struct Score {
    std::vector<Note> notes;
    std::vector<Ramp> ramps;
    int64_t length = 0;
};

// Block sizes covering `length`: all `size`, or (size 0) drawn from 1..PATCH_MAX_BLOCK, mostly
// small, by a generator seeded with `seed`.
std::vector<int32_t> blockSizes(int64_t length, int32_t size, uint32_t seed = 1);

struct PatchRun {
    std::vector<std::vector<float>> outputs;  // per patch output, the whole score
    std::vector<std::vector<bool>> asleep;    // per module, per block
    host::PatchStats stats;
    std::vector<host::PatchModuleStats> modules;
};

PatchRun runPatch(const host::PatchGraph& graph, const Score& score, const std::vector<int32_t>& sizes,
                  bool honourSleep = true);

// `module` (its library and input values) rendered alone by kvx render's block loop, with the
// score's notes and ramps for `index`.
render::SessionResult renderAlone(const host::PatchModule& module, int32_t index, const Score& score,
                                  const render::BlockSizing& sizing);

}  // namespace kvx::test
