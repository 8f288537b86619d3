// SPDX-License-Identifier: MIT
// kvx::patch against the built envelope and VCA and their descriptions: a patch read back into
// the PatchGraph it stands for, values at their bounds, the graphs the engine runs (fan-out, a
// module left alone, a loop closed by a delay), libraries beside the patch, and every file of the
// invalid corpus refused at the JSON path its expected.txt names, with the words it names.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "describe/description_reader.h"
#include "describe/user_value.h"
#include "patch/patch_reader.h"
#include "render/units.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::patch {
namespace {

namespace fs = std::filesystem;

PathModuleSource builtModules() {
    return PathModuleSource({{fs::path(test::testModulePath("VCA")).parent_path().string(), true},
                             {test::buildDir(), true}});
}

PatchFile read(const std::string& text) {
    PathModuleSource modules = builtModules();
    return parsePatch(text, "t.kvxpatch.json", modules);
}

std::string errorOf(const std::string& text, ModuleSource& modules, const std::string& source = "t.kvxpatch.json") {
    try {
        parsePatch(text, source, modules);
    } catch (const PatchError& error) {
        return error.what();
    }
    return "";
}

// The envelope's time pins, as the description format defines their mapping (seconds to
// 0.25 log10(s) + 0.75), computed here in double and rounded once.
float envelopeTime(double seconds) { return static_cast<float>(0.25 * std::log10(seconds) + 0.75); }

TEST(PatchReader, ThePatchsAudioInputsAreTheSignalInputsNothingDrives) {
    // vca.input is driven by a connection, a value, a control, a note's velocity, or nothing
    // (an input of the patch); the envelope's audio pins are parameters, never patch inputs.
    const std::string head = R"({"format": 1, "modules": [{"name": "env", "module": "adsr"},
        {"name": "vca", "module": "vca"VALUES}, {"name": "vca2", "module": "vca"}],
      "connections": [{"from": "env.output", "to": "vca.control"}CONNECTION],
      "outputs": [{"name": "out", "from": "vca.output"}]REST})";
    auto patchWith = [&head](const std::string& values, const std::string& connection,
                             const std::string& rest) {
        std::string text = head;
        text.replace(text.find("VALUES"), 6, values);
        text.replace(text.find("CONNECTION"), 10, connection);
        text.replace(text.find("REST"), 4, rest);
        return text;
    };
    const std::vector<PinRef> vca2Free{{2, 0}, {2, 1}};  // vca2.input, vca2.control
    const struct {
        const char* driver;
        std::string text;
        std::vector<PinRef> inputs;
    } cases[] = {
        {"nothing", patchWith("", "", ""), {{1, 0}, {2, 0}, {2, 1}}},
        {"a connection", patchWith("", R"(, {"from": "vca2.output", "to": "vca.input"})", ""), vca2Free},
        {"a value", patchWith(R"(, "values": {"input": 0.5})", "", ""), vca2Free},
        {"a control", patchWith("", "", R"(, "controls": [{"name": "in", "pins": "vca.input"}])"), vca2Free},
        {"a note", patchWith("", "", R"(, "notes": {"velocity": "vca.input"})"), vca2Free},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.driver);
        EXPECT_EQ(read(c.text).inputs, c.inputs);
    }
}

TEST(PatchReader, AValidPatchReadsBackIntoItsSpec) {
    const PatchFile patch = read(R"({
      "format": 1, "name": "Test", "voices": 4,
      "modules": [
        {"name": "env", "module": "adsr", "values": {"attack": "5ms", "sustain": 0.25, "attack-curve": -1}},
        {"name": "vca", "module": "vca", "values": {"level": "-6dB", "input": 0.5}}],
      "connections": [{"from": "env.output", "to": "vca.control"}],
      "outputs": [{"name": "out", "from": "vca.output"}],
      "controls": [{"name": "release", "pins": "env.release", "default": "300ms"}],
      "notes": {"gate": "env.gate", "trigger": ["env.trigger"], "bendRange": 12},
      "presets": [{"name": "Slow", "values": {"release": "2s"}}]})");
    const host::PatchGraph& graph = patch.graph;
    EXPECT_EQ(graph.source, "t.kvxpatch.json");
    EXPECT_EQ(patch.name, "Test");
    EXPECT_EQ(patch.voices, 4);
    ASSERT_EQ(graph.modules.size(), 2u);
    ASSERT_EQ(patch.modules.size(), 2u);

    const host::PatchModule& env = graph.modules[0];
    EXPECT_EQ(env.name, "env");
    EXPECT_TRUE(fs::equivalent(env.libraryPath, test::adsrLibraryPath()));
    EXPECT_EQ(env.id, u"KV ADSR4");
    EXPECT_EQ(env.subtype, 0);
    using K = host::PatchPinKind;
    const struct {
        int32_t id;
        K kind;
        float initial;
    } envPins[] = {{0, K::BoolIn, 0.0f},  {1, K::BoolIn, 0.0f},  // trigger, gate
                   {2, K::AudioIn, envelopeTime(0.005)},       // attack: the value
                   {3, K::AudioIn, envelopeTime(0.4)},         // decay: the described default
                   {4, K::AudioIn, 0.25f},                     // sustain
                   {5, K::AudioIn, envelopeTime(0.3)},         // release: the control's default
                   {6, K::AudioIn, -1.0f},  {7, K::AudioIn, 0.4f}, {8, K::AudioIn, 0.4f},
                   {9, K::AudioOut, 0.0f},  {10, K::FloatIn, 0.0f}};
    ASSERT_EQ(env.pins.size(), std::size(envPins));
    for (size_t i = 0; i < env.pins.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(env.pins[i].id, envPins[i].id);
        EXPECT_EQ(env.pins[i].kind, envPins[i].kind);
        EXPECT_EQ(env.pins[i].initial, envPins[i].initial);
    }
    const host::PatchModule& vca = graph.modules[1];
    EXPECT_TRUE(fs::equivalent(vca.libraryPath, test::testModulePath("VCA")));
    EXPECT_EQ(vca.id, u"KV VCA");
    ASSERT_EQ(vca.pins.size(), 6u);
    EXPECT_EQ(vca.pins[0].kind, K::AudioIn);
    EXPECT_EQ(vca.pins[0].initial, 0.5f);
    EXPECT_EQ(vca.pins[2].kind, K::FloatIn);
    EXPECT_EQ(vca.pins[2].initial, -6.0f) << "no mapping: the level in dB itself";
    EXPECT_EQ(vca.pins[3].kind, K::AudioOut);
    EXPECT_EQ(vca.pins[4].kind, K::BoolIn);
    EXPECT_EQ(vca.pins[4].initial, 0.0f) << "mute: false by default";
    EXPECT_EQ(vca.pins[5].kind, K::AudioIn);
    EXPECT_EQ(vca.pins[5].initial, 0.0f) << "fade: 0 dB by default, no mapping";

    ASSERT_EQ(graph.connections.size(), 1u);
    const host::PatchConnection& c = graph.connections[0];
    EXPECT_EQ((std::array{c.fromModule, c.fromPin, c.toModule, c.toPin}), (std::array{0, 9, 1, 1}));
    EXPECT_FALSE(c.oneSampleDelay);
    ASSERT_EQ(graph.outputs.size(), 1u);
    EXPECT_EQ(graph.outputs[0].name, "out");
    EXPECT_EQ(graph.outputs[0].module, 1);
    EXPECT_EQ(graph.outputs[0].pin, 3);

    ASSERT_EQ(patch.controls.size(), 1u);
    const Control& release = patch.controls[0];
    EXPECT_EQ(release.pins, (std::vector<PinRef>{{0, 5}}));
    EXPECT_EQ(release.range.unit, describe::Unit::Seconds);
    EXPECT_EQ(release.range.minimum, 0.001);
    EXPECT_EQ(release.range.maximum, 10.0);
    EXPECT_DOUBLE_EQ(*release.range.defaultValue, 0.3);
    EXPECT_EQ(patch.control("release"), &release);
    EXPECT_EQ(patch.pinName(release.pins[0]), "env.release");
    EXPECT_EQ(patch.notes.gate, (std::vector<PinRef>{{0, 1}}));
    EXPECT_EQ(patch.notes.trigger, (std::vector<PinRef>{{0, 0}}));
    EXPECT_TRUE(patch.notes.pitch.empty());
    EXPECT_EQ(patch.notes.bendRange, 12.0);
    ASSERT_EQ(patch.presets.size(), 1u);
    ASSERT_EQ(patch.presets[0].values.size(), 1u);
    EXPECT_EQ(patch.presets[0].values[0].control, 0u);
    EXPECT_EQ(patch.presets[0].values[0].user, 2.0);
    EXPECT_EQ(patch.modules[0].description.symbol, "adsr");
}

TEST(PatchReader, ValuesAtTheirRangesBoundsAreAccepted) {
    // Just past each bound is in the corpus (beyond-schema/value_just_*).
    const struct {
        const char* module;
        const char* pin;
        const char* value;
        int32_t id;
        float expected;
    } rows[] = {{"env", "attack", "\"1ms\"", 2, 0.0f},        {"env", "attack", "0.001", 2, 0.0f},
                {"env", "attack", "\"10s\"", 2, 1.0f},        {"env", "release", "\"10000 ms\"", 5, 1.0f},
                {"env", "sustain", "0", 4, 0.0f},             {"env", "sustain", "\"1\"", 4, 1.0f},
                {"vca", "level", "\"-60dB\"", 2, -60.0f},     {"vca", "level", "\"+12 dB\"", 2, 12.0f},
                {"env", "gate", "\"on\"", 1, 1.0f},           {"env", "trigger", "true", 0, 1.0f},
                {"vca", "input", "-1e3", 0, -1000.0f}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.pin) + " = " + row.value);
        const std::string values = std::string(R"(, "values": {")") + row.pin + "\": " + row.value + "}";
        const bool env = std::string(row.module) == "env";
        const std::string text = std::string(R"({"format": 1, "modules": [{"name": "env", "module": "adsr")") +
                                 (env ? values : "") + R"(}, {"name": "vca", "module": "vca")" +
                                 (env ? "" : values) + R"(}], "outputs": [{"name": "out", "from": "vca.output"}]})";
        const PatchFile set = read(text);
        const host::PatchModule& module = set.graph.modules[env ? 0 : 1];
        const auto pin = std::find_if(module.pins.begin(), module.pins.end(),
                                      [&](const host::PatchPin& p) { return p.id == row.id; });
        ASSERT_NE(pin, module.pins.end());
        EXPECT_EQ(pin->initial, row.expected);
    }
}

// One module of two plain pins whose ranges meet at 1, under any name.
class MeetingRanges final : public ModuleSource {
public:
    const describe::FoundModule* find(std::string_view) override { return &found; }
    std::vector<std::string> symbols() override { return {"t"}; }
    describe::Description describeLibrary(const std::string&) override { return {}; }

private:
    describe::FoundModule found{"t.kvx", "t.kvx.json",
                                describe::parseDescription(R"({"format": 1, "modules": [
        {"id": "T", "subtype": 0, "symbol": "t", "name": "T", "pins": [
          {"id": 0, "symbol": "low", "name": "L", "datatype": "float", "direction": "in", "role": "parameter",
           "unit": "none", "default": 0, "minimum": 0, "maximum": 1},
          {"id": 1, "symbol": "high", "name": "H", "datatype": "float", "direction": "in", "role": "parameter",
           "unit": "none", "default": 2, "minimum": 1, "maximum": 2},
          {"id": 2, "symbol": "out", "name": "O", "datatype": "audio", "direction": "out", "role": "signal"}]}]})",
                                                           "t.kvx.json")
                                    .modules[0]};
};

// A control of several pins takes the values all of them take: ranges that meet leave that one.
TEST(PatchReader, AControlsRangeIsWhereItsPinsRangesMeet) {
    MeetingRanges modules;
    const PatchFile patch = parsePatch(R"({"format": 1, "modules": [{"name": "m", "module": "t"}],
      "outputs": [{"name": "out", "from": "m.out"}],
      "controls": [{"name": "both", "pins": ["m.low", "m.high"], "default": 1}]})",
                                       "t.kvxpatch.json", modules);
    ASSERT_EQ(patch.controls.size(), 1u);
    EXPECT_EQ(patch.controls[0].range.minimum, 1.0);
    EXPECT_EQ(patch.controls[0].range.maximum, 1.0);
}

TEST(PatchReader, GraphsTheEngineRunsAreAccepted) {
    // Fan-out from the envelope, a VCA left unconnected, and a loop of two VCAs closed by a delay.
    const PatchFile patch = read(R"({"format": 1,
      "modules": [{"name": "env", "module": "adsr"}, {"name": "a", "module": "vca"},
                  {"name": "b", "module": "vca"}, {"name": "alone", "module": "KV VCA"}],
      "connections": [{"from": "env.output", "to": "a.control"}, {"from": "env.output", "to": "b.control"},
                      {"from": "a.output", "to": "b.input"}, {"from": "b.output", "to": "a.input", "delay": 1}],
      "outputs": [{"name": "left", "from": "a.output"}, {"name": "right", "from": "a.output"}]})");
    ASSERT_EQ(patch.graph.connections.size(), 4u);
    EXPECT_EQ(patch.graph.connections[1].fromModule, 0);
    EXPECT_EQ(patch.graph.connections[1].toModule, 2);
    EXPECT_FALSE(patch.graph.connections[2].oneSampleDelay);
    EXPECT_TRUE(patch.graph.connections[3].oneSampleDelay);
    EXPECT_EQ(patch.graph.modules[3].id, u"KV VCA") << "a module named by its id";
    EXPECT_EQ(patch.graph.outputs.size(), 2u);

    // The same loop without its delay is refused, naming its modules in signal order.
    PathModuleSource modules = builtModules();
    EXPECT_EQ(errorOf(R"({"format": 1, "modules": [{"name": "a", "module": "vca"}, {"name": "b", "module": "vca"}],
      "connections": [{"from": "a.output", "to": "b.input"}, {"from": "b.output", "to": "a.input"}],
      "outputs": [{"name": "out", "from": "a.output"}]})",
                      modules),
              "t.kvxpatch.json: $.connections[1]: a loop of connections without a delay: a \u2192 b \u2192 a "
              "(mark one of them \"delay\": 1)");
}

TEST(PatchReader, ALibraryIsNamedRelativeToThePatch) {
    test::ScratchFolder scratch;
    const std::string vca = fs::relative(test::testModulePath("VCA"), scratch.path("")).string();
    const std::string patchFile = scratch.path("p.kvxpatch.json");
    const auto patchWith = [&](const std::string& module) {
        return R"({"format": 1, "modules": [{"name": "v", )" + module +
               R"(}], "outputs": [{"name": "out", "from": "v.output"}]})";
    };
    PathModuleSource modules = builtModules();
    for (const std::string& module : {R"("library": ")" + vca + R"(")",
                                      R"("library": ")" + vca + R"(", "id": "KV VCA", "subtype": 0)"}) {
        SCOPED_TRACE(module);
        test::writeFile(patchFile, patchWith(module));
        const PatchFile patch = loadPatch(patchFile, modules);
        EXPECT_TRUE(fs::equivalent(patch.graph.modules[0].libraryPath, test::testModulePath("VCA")));
        EXPECT_EQ(patch.name, "p");
    }
    EXPECT_EQ(errorOf(patchWith(R"("library": ")" + vca + R"(", "id": "KV VCB")"), modules, patchFile),
              patchFile + ": $.modules[0].id: " + (test::testModulePath("VCA") + ".json") +
                  " describes no module \"KV VCB\" subtype 0 (it describes \"KV VCA\" subtype 0)");

    // A library without a description beside it: refused, unless the source describes it (as the
    // tools describe the envelope with its built-in description).
    test::writeFile(scratch.path("Bare.kvx"), "");
    const std::string bare = patchWith(R"("library": "Bare.kvx")");
    EXPECT_EQ(errorOf(bare, modules, patchFile),
              patchFile + ": $.modules[0].library: " + scratch.path("Bare.kvx") +
                  " has no description (Bare.kvx.json beside it)");
    const describe::Description builtIn = describe::loadDescription((test::testModulePath("VCA") + ".json"));
    PathModuleSource describing({}, &builtIn);
    test::writeFile(patchFile, bare);
    EXPECT_EQ(loadPatch(patchFile, describing).modules[0].description.id, "KV VCA");
}

TEST(PatchReader, ValuesWithUnitsSendWhatKvxRenderSends) {
    // A patch of one module must render as `kvx render` of it: the same text, the same float.
    const describe::ModuleDescription adsr = describe::loadDescription(test::adsrLibraryPath() + ".json").modules[0];
    const describe::ModuleDescription vca = describe::loadDescription(test::testModulePath("VCA") + ".json").modules[0];
    describe::PinDescription hertz;  // a frequency pin with a logarithmic mapping, and one in ms
    hertz.unit = describe::Unit::Hertz;
    hertz.mapping = describe::Mapping{describe::Mapping::Kind::Logarithmic, 2, 0.1, -1.0};
    describe::PinDescription milliseconds;
    milliseconds.unit = describe::Unit::Milliseconds;
    milliseconds.mapping = describe::Mapping{describe::Mapping::Kind::Linear, 10, 0.001, 0.0};
    int compared = 0;
    const auto compare = [&](const describe::PinDescription& pin, const std::string& text) {
        SCOPED_TRACE(pin.symbol + " = " + text);
        double user = 0.0;
        ASSERT_TRUE(describe::parseUserValue(text, pin, user));
        const float rendered = render::pinValue(render::parseParameter(text, pin, "--set"), pin, 48000.0);
        EXPECT_EQ(describe::pinValueFor(pin, user), rendered);
        ++compared;
    };
    for (double amount = 1.0; amount <= 10000.0; amount *= 1.37) {
        char number[32];
        std::snprintf(number, sizeof number, "%.5g", amount);
        for (const std::string unit : {"ms", "s", " ms"}) {
            if (unit != "s" || amount <= 10.0) compare(*adsr.pinBySymbol("attack"), number + unit);
            compare(milliseconds, number + unit);
        }
        compare(hertz, std::string(number) + "Hz");
        compare(hertz, std::string(number) + "kHz");
        compare(*vca.pinBySymbol("level"), "-" + std::string(number) + "dB");
    }
    EXPECT_GT(compared, 150);
}

// Every file of a corpus folder fails with "<file>: <path>: ..." holding the words expected.txt gives.
void expectCorpusRefused(const std::string& folder) {
    std::ifstream list(folder + "/expected.txt");
    ASSERT_TRUE(list) << folder;
    PathModuleSource modules = builtModules();
    std::string line;
    int cases = 0;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string file, path, words;
        fields >> file >> path;
        std::getline(fields >> std::ws, words);
        SCOPED_TRACE(file);
        const std::string where = folder + "/" + file + ".kvxpatch.json";
        std::string message;
        try {
            loadPatch(where, modules);
        } catch (const PatchError& error) {
            message = error.what();
        }
        ASSERT_FALSE(message.empty()) << "accepted";
        EXPECT_TRUE(message.starts_with(where + ": " + path + ": ") || message.starts_with(where + ": " + path + " ("))
            << message;
        EXPECT_NE(message.find(words), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        ++cases;
    }
    // Every file of the folder has its line.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) files += entry.path().extension() == ".json";
    EXPECT_EQ(cases, files);
}

TEST(PatchReader, InvalidPatchesAreRefusedWhereTheyGoWrong) { expectCorpusRefused(KVX_PATCH_CASES "/invalid"); }

TEST(PatchReader, WhatOnlyTheDescriptionsCanSayIsRefusedToo) {
    expectCorpusRefused(KVX_PATCH_CASES "/beyond-schema");
}

}  // namespace
}  // namespace kvx::patch
