// SPDX-License-Identifier: MIT
// The instrument tests' patch and player.
#include "tests/host/instrument_harness.h"

#include <filesystem>

#include "patch/module_source.h"
#include "patch/patch_instrument.h"
#include "patch/patch_reader.h"
#include "tests/support/test_paths.h"

namespace kvx::test {

namespace fs = std::filesystem;

patch::PatchFile examplePatch(float waveform) {
    patch::PathModuleSource modules(
        {{fs::path(testModulePath("VCA")).parent_path().string(), true}, {buildDir(), true}});
    patch::PatchFile file = patch::loadPatch(KVX_EXAMPLE_PATCH, modules);
    for (host::PatchModule& module : file.graph.modules)
        if (module.name == "osc")
            for (host::PatchPin& pin : module.pins)
                if (pin.id == 1) pin.initial = waveform;
    return file;
}

std::unique_ptr<host::Instrument> exampleInstrument(int32_t voices, float waveform) {
    const patch::PatchFile file = examplePatch(waveform);
    return patch::makeInstrument(file, 48000.0f, INSTRUMENT_MAX_BLOCK, voices);
}

Played noteOn(int64_t sample, uint8_t key, float velocity) {
    return {sample, host::NoteEvent{0, host::NoteEventKind::NoteOn, key, velocity}};
}

Played noteOff(int64_t sample, uint8_t key) {
    return {sample, host::NoteEvent{0, host::NoteEventKind::NoteOff, key}};
}

Played control(int64_t sample, host::NoteEventKind kind, float value) {
    return {sample, host::NoteEvent{0, kind, 0, value}};
}

std::vector<float> play(host::Instrument& instrument, const std::vector<Played>& score,
                        const std::vector<int32_t>& sizes, std::vector<std::vector<float>>* voices) {
    std::vector<float> out;
    if (voices != nullptr) voices->assign(static_cast<size_t>(instrument.voiceCount()), {});
    std::vector<host::NoteEvent> events;
    size_t next = 0;
    int64_t position = 0;
    for (int32_t n : sizes) {
        events.clear();
        for (; next < score.size() && score[next].sample < position + n; ++next) {
            host::NoteEvent event = score[next].event;
            event.timestamp = static_cast<int32_t>(score[next].sample - position);
            events.push_back(event);
        }
        instrument.runBlock(n, events);
        out.insert(out.end(), instrument.output(0), instrument.output(0) + n);
        if (voices != nullptr)
            for (int32_t v = 0; v < instrument.voiceCount(); ++v)  // a voice not run holds its last value
                (*voices)[static_cast<size_t>(v)].push_back(instrument.voicePatch(v).output(size_t{0})[0]);
        position += n;
    }
    return out;
}

}  // namespace kvx::test
