// SPDX-License-Identifier: MIT
// The score fuzz target: reads its input bytes as a score for the envelope and for a described
// module with every kind of pin (bool and float controls, inputs in s, dB, Hz and %, a mapping),
// resolves what parses into a plan at 48 kHz and schedules its events. A RenderError is a
// refused score; any other exception, a crash, or a plan or schedule that breaks what the block
// loop relies on aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "describe/description_reader.h"
#include "fuzz/invariant_check.h"
#include "interfaces/host_event.h"
#include "render/envelope_profile.h"
#include "render/error.h"
#include "render/module.h"
#include "render/plan.h"
#include "render/schedule.h"
#include "render/score.h"

namespace kvx::fuzz {
namespace {

const char OTHER_MODULE[] = R"({"format": 1, "modules": [{"id": "FUZZ", "subtype": 0, "symbol": "fuzz",
  "name": "Every kind of pin", "pins": [
  {"id": 0, "symbol": "in", "name": "In", "datatype": "audio", "direction": "in", "role": "signal"},
  {"id": 1, "symbol": "hold", "name": "Hold", "datatype": "audio", "direction": "in", "role": "parameter",
   "unit": "ms", "default": 10, "minimum": 1, "maximum": 1000, "scale": "logarithmic",
   "mapping": {"kind": "logarithmic", "base": 10, "scale": 0.5, "offset": -1}},
  {"id": 2, "symbol": "level", "name": "Level", "datatype": "float", "direction": "in", "role": "parameter",
   "unit": "dB", "default": 0, "minimum": -60, "maximum": 12},
  {"id": 3, "symbol": "cutoff", "name": "Cutoff", "datatype": "audio", "direction": "in", "role": "parameter",
   "unit": "Hz", "default": 1000, "minimum": 20, "maximum": 20000,
   "mapping": {"kind": "logarithmic", "base": 2, "scale": 1, "offset": 0}},
  {"id": 4, "symbol": "mix", "name": "Mix", "datatype": "audio", "direction": "in", "role": "parameter",
   "unit": "%", "default": 50, "minimum": 0, "maximum": 100, "mapping": {"kind": "linear", "scale": 0.01, "offset": 0}},
  {"id": 5, "symbol": "gate", "name": "Gate", "datatype": "bool", "direction": "in", "role": "gate", "default": false},
  {"id": 6, "symbol": "clear", "name": "Clear", "datatype": "float", "direction": "in", "role": "reset",
   "unit": "none", "default": 0, "minimum": 0, "maximum": 1},
  {"id": 7, "symbol": "out", "name": "Out", "datatype": "audio", "direction": "out", "role": "signal"}]}]})";

const std::vector<render::RenderModule>& modules() {
    static const std::vector<render::RenderModule> all{
        render::renderModule(render::builtInEnvelopeDescription().modules.front(), "built in"),
        render::renderModule(describe::parseDescription(OTHER_MODULE, "fuzz module").modules.front(),
                             "fuzz")};
    return all;
}

void checkPlan(const render::RenderPlan& plan, const render::RenderModule& module,
               const std::vector<render::ScheduledEvent>& events) {
    FUZZ_CHECK(plan.length > 0 && plan.length <= render::MAX_LENGTH_SAMPLES);
    FUZZ_CHECK(plan.tracks.size() == module.inputs.size());
    for (const render::InputTrack& track : plan.tracks) {
        FUZZ_CHECK(!track.points.empty());
        for (size_t i = 1; i < track.points.size(); ++i)
            FUZZ_CHECK(track.points[i - 1].sample <= track.points[i].sample);
    }
    for (size_t i = 0; i < events.size(); ++i) {
        FUZZ_CHECK(events[i].sample >= 0 && events[i].sample < plan.length);
        if (i > 0) FUZZ_CHECK(events[i - 1].sample <= events[i].sample);
    }
    FUZZ_CHECK(!events.empty() && events.front().type == EV_GRAPH_BEGIN);
}

void readScore(const std::string& text, const render::RenderModule& module) {
    render::Score score;
    try {
        score = render::parseScore(text, "fuzz score", module);
    } catch (const render::RenderError&) {
        return;
    }
    // Input files are not read here: the plan is made without them.
    for (auto& file : score.files) file.reset();
    try {
        const render::RenderPlan plan = render::resolvePlan(score, 48000, module);
        checkPlan(plan, module, render::scheduleEvents(plan, module));
    } catch (const render::RenderError&) {
    }
}

}  // namespace
}  // namespace kvx::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvx::fuzz::modules();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const kvx::render::RenderModule& module : kvx::fuzz::modules()) kvx::fuzz::readScore(text, module);
    return 0;
}
