// SPDX-License-Identifier: MIT
// kvx studio's LV2 preset export as a host meets it: the answer's manifest.ttl put in a preset
// bundle beside the subject's bundle, lilv finds the preset on each plug-in with the settings in
// the ports' units, and the envelope restored from it plays the samples of kvx render with the
// same settings. What a preset cannot hold is refused in one line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "render/patch_loading.h"
#include "studio/preset_api.h"
#include "tests/lv2/lilv_host.h"
#include "tests/support/sample_difference.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

studio::Subject envelope() {
    studio::Subject subject;
    subject.base.plugin = adsrLibraryPath();
    subject.named = subject.base.plugin;
    return subject;
}

// The answer's Turtle as ~/.lv2/NAME.preset.lv2/manifest.ttl would hold it, in `folder`.
void installPreset(const json& answer, const std::string& folder) {
    const std::string install = answer.at("install");
    const fs::path bundle = fs::path(folder) / fs::path(install).parent_path().filename();
    fs::create_directories(bundle);
    std::ofstream(bundle / "manifest.ttl") << answer.at("ttl").get<std::string>();
}

int statusOf(const studio::Subject& subject, const std::string& body) {
    try {
        studio::presetJson(subject, body);
    } catch (const studio::RequestError& error) {
        EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos) << error.what();
        return error.status();
    }
    return 200;
}

TEST(StudioPreset, LilvRestoresTheEnvelopesSettingsOnEveryFlavourAndTheyPlayAsKvxRenderPlaysThem) {
    // Times in the ports' seconds; the pin value 0.25 is 10 ms (pin = 0.25 log10(s) + 0.75); 20 s
    // lies above the range and is held as its maximum, 10 s, as the bridge would clamp it.
    const json answer = json::parse(studio::presetJson(
        envelope(),
        R"({"name": "Slow Pad", "settings": {"attack": "250ms", "decay": 0.25, "sustain": 0.3, "release": "20s"}})"));
    EXPECT_EQ(answer.at("install"), "~/.lv2/slow-pad.preset.lv2/manifest.ttl");
    ASSERT_EQ(answer.at("warnings").size(), 1u);
    EXPECT_NE(answer["warnings"][0].get<std::string>().find("release=20s"), std::string::npos);

    const Lv2World world({buildDir() + "/ADSR.lv2"},
                         [&answer](const std::string& folder) { installPreset(answer, folder); });
    const std::map<std::string, float> expected{{"attack", 0.25f},       {"decay", 0.01f},
                                                {"sustain", 0.3f},       {"release", 10.0f},
                                                {"attack_curve", 0.1f},  {"decay_curve", 0.4f},
                                                {"release_curve", 0.4f}};
    for (const char* flavour : {"midi", "amp", "gate"}) {
        SCOPED_TRACE(flavour);
        LilvPluginHost host(world, std::string(ADSR_URI_BASE) + flavour, {});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        EXPECT_EQ(presetValues(world, host, std::string(ADSR_URI_BASE) + flavour),
                  (PresetValues{{"Slow Pad", expected}}));
    }

    LilvPluginHost host(world, std::string(ADSR_URI_BASE) + "midi", {});
    const PresetValues restored = presetValues(world, host, std::string(ADSR_URI_BASE) + "midi");
    for (const auto& [symbol, value] : restored.at("Slow Pad")) host.setControl(symbol, value);
    const auto played = host.run(40000, fixedBlocks(333), {{1000, 0x90, 60, 100}, {20000, 0x80, 60, 0}});
    ScratchFolder folder;
    const ToolRun run = runKvx({"render", adsrLibraryPath(), "--attack", "250ms", "--decay", "0.25", "--sustain",
                                "0.3", "--release", "10s", "--note", "1000smp:20000smp", "--length", "40000smp",
                                "--format", "float", "--out", folder.path("render.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(firstDifference(played.at("output"), readWav(folder.path("render.wav")).samples), "");
}

TEST(StudioPreset, APatchsPresetHoldsItsControlsInTheirUnitsForItsInstrument) {
    const std::string modules = fs::path(testModulePath("VCA")).parent_path().string();
    const std::string patchPath = std::string(KVX_SOURCE_DIR) + "/examples/patches/instrument.kvxpatch.json";
    studio::Subject subject;
    subject.base.plugin = patchPath;
    subject.named = patchPath;
    subject.patch = render::loadToolPatch(patchPath, {{modules, true}, {buildDir(), true}});
    const json answer = json::parse(
        studio::presetJson(subject, R"({"name": "Quiet pluck", "settings": {"level": "-30dB", "attack": 0.002}})"));
    ScratchFolder folder;
    const ToolRun run = runKvx({"lv2", patchPath, "--out", folder.path("instrument.lv2"), "--quiet"},
                               {"KVX_PATH=" + modules + ":" + buildDir()});
    ASSERT_EQ(run.status, 0) << run.err;
    const Lv2World world({folder.path("instrument.lv2")},
                         [&answer](const std::string& lv2) { installPreset(answer, lv2); });
    const std::string uri = "https://kvx.example.org/modules/patches/instrument/instrument";
    ASSERT_EQ(answer.at("presets").size(), 1u);
    EXPECT_EQ(answer["presets"][0].at("plugin"), uri);
    LilvPluginHost host(world, uri, {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    const PresetValues presets = presetValues(world, host, uri);
    // The file's own presets, and this one: the patch's defaults where nothing was set.
    ASSERT_EQ(presets.count("Quiet pluck"), 1u);
    const std::map<std::string, float> expected{
        {"attack", 0.002f}, {"decay", 0.2f}, {"sustain", 0.6f}, {"release", 0.3f}, {"level", -30.0f}};
    EXPECT_EQ(presets.at("Quiet pluck"), expected);
}

TEST(StudioPreset, RefusesWhatAPresetCannotHoldInOneLine) {
    const studio::Subject subject = envelope();
    EXPECT_EQ(statusOf(subject, R"({"name": "x", "settings": {"attack": "480smp"}})"), 400);
    EXPECT_EQ(statusOf(subject, R"({"settings": {"attack": "5ms"}})"), 200);  // the name has a default
    EXPECT_EQ(statusOf(subject, R"({"settings": {"atack": "5ms"}})"), 400);
    EXPECT_EQ(statusOf(subject, R"({"settings": {"attack": "soon"}})"), 400);
    EXPECT_EQ(statusOf(subject, R"({"settings": {"attack": null}})"), 400);
    EXPECT_EQ(statusOf(subject, R"({"settings": [1]})"), 400);
    EXPECT_EQ(statusOf(subject, R"({"name": ""})"), 400);
    EXPECT_EQ(statusOf(subject, R"({"name": 7})"), 400);
    EXPECT_EQ(statusOf(subject, json{{"name", std::string(200, 'a')}}.dump()), 200);
    EXPECT_EQ(statusOf(subject, json{{"name", std::string(201, 'a')}}.dump()), 400);
    EXPECT_EQ(statusOf(subject, R"({"notes": []})"), 400);
    EXPECT_EQ(statusOf(subject, R"({"name": "x")"), 400);
    EXPECT_EQ(statusOf(subject, "[]"), 400);
    // A label of no letters or digits still makes a bundle name; quotes stay inside the literal.
    const json odd = json::parse(studio::presetJson(subject, R"({"name": "\"#!\""})"));
    EXPECT_EQ(odd.at("install"), "~/.lv2/preset.preset.lv2/manifest.ttl");
    EXPECT_NE(odd.at("ttl").get<std::string>().find(R"(rdfs:label "\"#!\"")"), std::string::npos);
}

}  // namespace
}  // namespace kvx::test
