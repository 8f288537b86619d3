// SPDX-License-Identifier: MIT
// The patch fuzz target: reads its input bytes as a patch over the envelope and the VCA (their
// shipped descriptions, held in memory: no library is loaded, no file is read per input). A
// PatchError is a refused patch, and must be one line naming the file and a JSON path; any other
// exception or a crash aborts, and so does an accepted patch that breaks what the engine and the
// tools rely on: valid indices, pins of the described datatype and direction, one driver per
// input, an order in which every module runs after those feeding it without a delay, controls
// and presets within their ranges, and finite starting values.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "describe/description_reader.h"
#include "describe/user_value.h"
#include "fuzz/invariant_check.h"
#include "patch/patch_reader.h"

namespace kvx::fuzz {
namespace {

using patch::PatchFile;
using patch::PinRef;

// The envelope and the VCA, found by symbol or id; "…/VCA.kvx" and "…/ADSR.kvx" are their
// libraries when a patch names a file.
class MemoryModules final : public patch::ModuleSource {
public:
    MemoryModules() {
        for (const char* path : {KVX_ADSR_DESCRIPTION, KVX_VCA_DESCRIPTION}) {
            const describe::Description description = describe::loadDescription(path);
            std::string library = path;
            library.resize(library.size() - 5);  // NAME.kvx.json -> NAME.kvx
            libraries.push_back({library.substr(library.rfind('/') + 1), description});
            found.push_back(describe::FoundModule{library, path, description.modules.front()});
        }
    }
    const describe::FoundModule* find(std::string_view name) override {
        for (const describe::FoundModule& module : found)
            if (module.module.id == name || describe::flagName(module.module.symbol) == describe::flagName(name))
                return &module;
        return nullptr;
    }
    std::vector<std::string> symbols() override { return {"adsr", "vca"}; }
    describe::Description describeLibrary(const std::string& path) override {
        for (const auto& [file, description] : libraries)
            if (path.size() >= file.size() && path.compare(path.size() - file.size(), file.size(), file) == 0)
                return description;
        throw patch::ModuleSourceError("no library file " + path);
    }

private:
    std::vector<describe::FoundModule> found;
    std::vector<std::pair<std::string, describe::Description>> libraries;
};

MemoryModules* modules = nullptr;

const host::PatchPin* graphPin(const PatchFile& patch, int32_t module, int32_t id) {
    for (const host::PatchPin& pin : patch.graph.modules[static_cast<size_t>(module)].pins)
        if (pin.id == id) return &pin;
    return nullptr;
}

bool validRef(const PatchFile& patch, const PinRef& ref) {
    return ref.module >= 0 && static_cast<size_t>(ref.module) < patch.modules.size() &&
           patch.modules[static_cast<size_t>(ref.module)].description.pinById(ref.pin) != nullptr &&
           graphPin(patch, ref.module, ref.pin) != nullptr;
}

bool withinRange(const describe::PinDescription& range, double value) {
    return (!range.minimum || value >= *range.minimum) && (!range.maximum || value <= *range.maximum);
}

void checkModules(const PatchFile& patch) {
    FUZZ_CHECK(!patch.graph.modules.empty());
    FUZZ_CHECK(patch.graph.modules.size() == patch.modules.size());
    std::set<std::string> names;
    for (size_t m = 0; m < patch.graph.modules.size(); ++m) {
        const host::PatchModule& module = patch.graph.modules[m];
        const describe::ModuleDescription& description = patch.modules[m].description;
        FUZZ_CHECK(names.insert(module.name).second, "module name %s twice", module.name.c_str());
        FUZZ_CHECK(module.id == std::u16string(description.id.begin(), description.id.end()));
        for (size_t i = 0; i < module.pins.size(); ++i) {
            const host::PatchPin& pin = module.pins[i];
            if (i > 0) FUZZ_CHECK(module.pins[i - 1].id < pin.id);
            const describe::PinDescription* described = description.pinById(pin.id);
            FUZZ_CHECK(described != nullptr);
            using K = host::PatchPinKind;
            const K kind = !described->isInput() ? K::AudioOut
                           : described->datatype == describe::Datatype::Bool  ? K::BoolIn
                           : described->datatype == describe::Datatype::Float ? K::FloatIn
                                                                              : K::AudioIn;
            FUZZ_CHECK(pin.kind == kind && (described->isInput() || described->isAudio()));
            FUZZ_CHECK(std::isfinite(pin.initial), "%s.%s starts at %g", module.name.c_str(),
                       described->symbol.c_str(), static_cast<double>(pin.initial));
        }
    }
}

// Connections join an audio output to an audio input, each input once, and the connections
// without a delay order the modules (Kahn's algorithm leaves none behind).
void checkGraph(const PatchFile& patch, std::set<std::pair<int32_t, int32_t>>& driven) {
    const size_t count = patch.graph.modules.size();
    std::vector<std::vector<int32_t>> next(count);
    std::vector<int> feeding(count, 0);
    for (const host::PatchConnection& c : patch.graph.connections) {
        FUZZ_CHECK(validRef(patch, {c.fromModule, c.fromPin}) && validRef(patch, {c.toModule, c.toPin}));
        FUZZ_CHECK(graphPin(patch, c.fromModule, c.fromPin)->kind == host::PatchPinKind::AudioOut);
        FUZZ_CHECK(graphPin(patch, c.toModule, c.toPin)->kind == host::PatchPinKind::AudioIn);
        FUZZ_CHECK(driven.insert({c.toModule, c.toPin}).second, "an input connected twice");
        if (c.oneSampleDelay) continue;
        next[static_cast<size_t>(c.fromModule)].push_back(c.toModule);
        ++feeding[static_cast<size_t>(c.toModule)];
    }
    std::vector<size_t> ready;
    for (size_t m = 0; m < count; ++m)
        if (feeding[m] == 0) ready.push_back(m);
    size_t ordered = 0;
    while (!ready.empty()) {
        const size_t m = ready.back();
        ready.pop_back();
        ++ordered;
        for (const int32_t to : next[m])
            if (--feeding[static_cast<size_t>(to)] == 0) ready.push_back(static_cast<size_t>(to));
    }
    FUZZ_CHECK(ordered == count, "a loop without a delay was accepted");

    FUZZ_CHECK(!patch.graph.outputs.empty());
    std::set<std::string> names;
    for (const host::PatchOutput& output : patch.graph.outputs) {
        FUZZ_CHECK(names.insert(output.name).second);
        FUZZ_CHECK(validRef(patch, {output.module, output.pin}));
        FUZZ_CHECK(graphPin(patch, output.module, output.pin)->kind == host::PatchPinKind::AudioOut);
    }
}

void checkControlsAndNotes(const PatchFile& patch, std::set<std::pair<int32_t, int32_t>>& driven) {
    for (const patch::Control& control : patch.controls) {
        FUZZ_CHECK(!control.pins.empty() && control.range.defaultValue);
        FUZZ_CHECK(withinRange(control.range, *control.range.defaultValue));
        FUZZ_CHECK(patch.control(control.name) == &control);
        for (const PinRef& ref : control.pins) {
            FUZZ_CHECK(validRef(patch, ref));
            FUZZ_CHECK(driven.insert({ref.module, ref.pin}).second, "an input driven twice");
            const describe::PinDescription& pin = patch.pin(ref);
            FUZZ_CHECK(pin.isInput() && pin.unit == control.range.unit);
            // The pin starts at the control's default, through its own mapping.
            const float initial = graphPin(patch, ref.module, ref.pin)->initial;
            FUZZ_CHECK(initial == describe::pinValueFor(pin, *control.range.defaultValue));
        }
    }
    const struct {
        const std::vector<PinRef>& refs;
        bool isBool;
    } parts[] = {{patch.notes.gate, true},
                 {patch.notes.trigger, true},
                 {patch.notes.pitch, false},
                 {patch.notes.velocity, false}};
    for (const auto& part : parts)
        for (const PinRef& ref : part.refs) {
            FUZZ_CHECK(validRef(patch, ref));
            FUZZ_CHECK(driven.insert({ref.module, ref.pin}).second, "an input driven twice");
            const describe::PinDescription& pin = patch.pin(ref);
            FUZZ_CHECK(pin.isInput() && (pin.datatype == describe::Datatype::Bool) == part.isBool);
        }
    for (const PinRef& ref : patch.notes.pitch) FUZZ_CHECK(patch.pin(ref).unit == describe::Unit::Hertz);
    FUZZ_CHECK(patch.notes.bendRange >= 0.0 && patch.notes.bendRange <= 48.0);
    FUZZ_CHECK(patch.voices >= 1 && patch.voices <= 128);
    for (const patch::Preset& preset : patch.presets)
        for (const patch::Preset::Value& value : preset.values) {
            FUZZ_CHECK(value.control < patch.controls.size());
            FUZZ_CHECK(withinRange(patch.controls[value.control].range, value.user));
        }
}

void readPatch(std::string_view text) {
    PatchFile patch;
    try {
        patch = patch::parsePatch(text, "fuzz.kvxpatch.json", *modules);
    } catch (const patch::PatchError& error) {
        const std::string_view message = error.what();
        FUZZ_CHECK(message.find('\n') == std::string_view::npos);
        FUZZ_CHECK(message.starts_with("fuzz.kvxpatch.json: $"), "%s", error.what());
        return;
    }
    checkModules(patch);
    std::set<std::pair<int32_t, int32_t>> driven;  // (module, pin) of every driven input
    checkGraph(patch, driven);
    checkControlsAndNotes(patch, driven);
}

}  // namespace
}  // namespace kvx::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvx::fuzz::modules = new kvx::fuzz::MemoryModules();  // lives as long as the process
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvx::fuzz::readPatch(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
