// SPDX-License-Identifier: MIT
// The patch tests' modules, scores and runners.
#include "tests/host/patch_harness.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "modules/adsr/adsr_pins.h"
#include "render/module.h"
#include "render/plan.h"
#include "render/schedule.h"
#include "tests/host/stream_probe.h"
#include "tests/support/test_paths.h"

namespace kvx::test {

namespace {

using host::EventRank;
using host::PatchPinKind;

host::PatchModule module(const std::string& name, const std::string& library, std::u16string id,
                         std::vector<host::PatchPin> pins) {
    host::PatchModule m;
    m.name = name;
    m.libraryPath = library;
    m.id = std::move(id);
    m.pins = std::move(pins);
    return m;
}

render::InputTrack rampTrack(const Ramp& ramp) {
    render::InputTrack track;
    track.points = {{ramp.begin, ramp.from}, {ramp.end, ramp.to}};
    return track;
}

struct Timed {
    int64_t sample;
    host::PatchEvent event;
};

// The score as the caller's events, in the order kvx render schedules them: every gate off,
// then each note's trigger and gate; ramps begin and end streaming.
std::vector<Timed> scoreEvents(const Score& score) {
    std::vector<Timed> timed;
    auto add = [&timed](int64_t sample, int32_t module, int32_t type, int32_t pin, float value,
                        EventRank rank) {
        timed.push_back(Timed{sample, host::PatchEvent{module, 0, type, pin, value, rank}});
    };
    for (const Note& note : score.notes)
        add(note.off, note.module, EV_PIN_VALUE, adsr::PIN_GATE, 0.0f, EventRank::Note);
    for (const Note& note : score.notes) {
        add(note.on, note.module, EV_PIN_VALUE, adsr::PIN_TRIGGER, 1.0f, EventRank::Note);
        add(note.on, note.module, EV_PIN_VALUE, adsr::PIN_GATE, 1.0f, EventRank::Note);
    }
    for (const Ramp& ramp : score.ramps) {
        if (ramp.from == ramp.to) continue;
        add(ramp.begin, ramp.module, EV_STREAM_BEGIN, ramp.pin, 0.0f, EventRank::Stream);
        add(ramp.end, ramp.module, EV_STREAM_END, ramp.pin, 0.0f, EventRank::Stream);
    }
    std::stable_sort(timed.begin(), timed.end(), [](const Timed& a, const Timed& b) {
        return host::deliveredBefore(a.sample, a.event.rank, b.sample, b.event.rank);
    });
    return timed;
}

}  // namespace

host::PatchModule adsrModule(const std::string& name, float sustain) {
    std::vector<host::PatchPin> pins = {{adsr::PIN_TRIGGER, PatchPinKind::BoolIn, 0.0f},
                                        {adsr::PIN_GATE, PatchPinKind::BoolIn, 0.0f}};
    // Attack 2 ms, decay 6 ms, release 4 ms (0 -> 1 ms, 0.5 -> 100 ms), gentle curves.
    const float values[] = {0.08f, 0.2f, sustain, 0.15f, 0.3f, -0.2f, 0.1f};
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
        pins.push_back({pin, PatchPinKind::AudioIn, values[pin - adsr::PIN_ATTACK_TIME]});
    pins.push_back({adsr::PIN_OUTPUT, PatchPinKind::AudioOut, 0.0f});
    pins.push_back({adsr::PIN_RESET, PatchPinKind::FloatIn, 0.0f});
    return module(name, adsrLibraryPath(), adsr::MODULE_ID, pins);
}

host::PatchModule vcaModule(const std::string& name, float control, float levelDb) {
    return module(name, testModulePath("VCA"), u"KV VCA",
                  {{0, PatchPinKind::AudioIn, 0.0f},
                   {1, PatchPinKind::AudioIn, control},
                   {2, PatchPinKind::FloatIn, levelDb},
                   {3, PatchPinKind::AudioOut, 0.0f},
                   {4, PatchPinKind::BoolIn, 0.0f},
                   {5, PatchPinKind::AudioIn, 0.0f}});
}

host::PatchModule oscModule(const std::string& name, double hertz) {
    return module(name, testModulePath("OSC"), u"KV OSC",
                  {{0, PatchPinKind::AudioIn, static_cast<float>(0.1 * std::log2(hertz) - 0.4)},
                   {1, PatchPinKind::FloatIn, 0.0f},
                   {2, PatchPinKind::BoolIn, 0.0f},
                   {3, PatchPinKind::AudioOut, 0.0f}});
}

host::PatchModule sumModule(const std::string& name) {
    return module(name, testModulePath("Sum"), u"KVX TEST SUM",
                  {{0, PatchPinKind::AudioIn, 0.0f},
                   {1, PatchPinKind::AudioIn, 0.0f},
                   {2, PatchPinKind::AudioOut, 0.0f}});
}

host::PatchModule probeModule(const std::string& name) {
    return module(name, testModulePath("StreamProbe"), STREAM_PROBE_ID,
                  {{STREAM_PROBE_INPUT, PatchPinKind::AudioIn, 0.0f},
                   {STREAM_PROBE_OUTPUT, PatchPinKind::AudioOut, 0.0f}});
}

std::map<int32_t, float> inputValues(const host::PatchModule& module) {
    std::map<int32_t, float> values;
    for (const host::PatchPin& pin : module.pins)
        if (pin.kind != PatchPinKind::AudioOut) values[pin.id] = pin.initial;
    return values;
}

std::vector<int32_t> blockSizes(int64_t length, int32_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<int32_t> sizes;
    for (int64_t done = 0; done < length;) {
        int32_t n = size;
        if (n == 0) {
            const int32_t choices[] = {1, 2, 3, 5, 16, 31, 64, 100, 127, 500, 1000, PATCH_MAX_BLOCK};
            n = random() % 3 == 0 ? choices[random() % std::size(choices)]
                                  : 1 + static_cast<int32_t>(random() % 80);
        }
        n = static_cast<int32_t>(std::min<int64_t>(n, length - done));
        sizes.push_back(n);
        done += n;
    }
    return sizes;
}

PatchRun runPatch(const host::PatchGraph& graph, const Score& score, const std::vector<int32_t>& sizes,
                  bool honourSleep) {
    host::Patch patch(graph, 48000.0f, PATCH_MAX_BLOCK);
    patch.honourSleep = honourSleep;
    const std::vector<Timed> timed = scoreEvents(score);
    std::vector<std::pair<float*, render::InputTrack>> ramps;
    for (const Ramp& ramp : score.ramps)
        ramps.emplace_back(patch.input(ramp.module, ramp.pin), rampTrack(ramp));

    PatchRun run;
    run.outputs.resize(graph.outputs.size());
    run.asleep.resize(graph.modules.size());
    std::vector<host::PatchEvent> events;
    size_t next = 0;
    int64_t position = 0;
    for (int32_t n : sizes) {
        events.clear();
        for (; next < timed.size() && timed[next].sample < position + n; ++next) {
            host::PatchEvent event = timed[next].event;
            event.timestamp = static_cast<int32_t>(timed[next].sample - position);
            events.push_back(event);
        }
        for (auto& [buffer, track] : ramps)
            for (int32_t i = 0; i < n; ++i) buffer[i] = track.valueAt(position + i);
        patch.runBlock(n, events);
        for (size_t o = 0; o < graph.outputs.size(); ++o)
            run.outputs[o].insert(run.outputs[o].end(), patch.output(o), patch.output(o) + n);
        for (int32_t m = 0; m < patch.moduleCount(); ++m)
            run.asleep[static_cast<size_t>(m)].push_back(patch.asleep(m));
        position += n;
    }
    run.stats = patch.stats();
    for (int32_t m = 0; m < patch.moduleCount(); ++m) run.modules.push_back(patch.moduleStats(m));
    return run;
}

render::SessionResult renderAlone(const host::PatchModule& module, int32_t index, const Score& score,
                                  const render::BlockSizing& sizing) {
    const render::RenderModule described =
        render::moduleForRender(module.libraryPath, "", "", module.subtype);
    render::RenderPlan plan;
    plan.length = score.length;
    plan.lengthChosen = true;
    const std::map<int32_t, float> values = inputValues(module);
    for (const describe::PinDescription& pin : described.inputs) {
        render::InputTrack track;
        track.points = {{0, values.at(pin.id)}};
        for (const Ramp& ramp : score.ramps)
            if (ramp.module == index && ramp.pin == pin.id) track = rampTrack(ramp);
        plan.tracks.push_back(track);
    }
    for (const Note& note : score.notes)
        if (note.module == index) plan.notes.push_back(render::NotePlan{note.on, note.off});
    host::PluginLibrary library(module.libraryPath);
    host::PluginInstance instance(library, module.id, module.subtype);
    return render::runSession(instance, described, plan, render::scheduleEvents(plan, described), sizing);
}

}  // namespace kvx::test
