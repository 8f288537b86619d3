// SPDX-License-Identifier: MIT
// kvx::describe: the shipped descriptions read back as their modules are built, every invalid
// description of the corpus is refused at the JSON path its expected.txt names (with the file
// first, on one line), syntax errors point at the place, and user values map to pin values as
// the format defines.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "describe/description_reader.h"
#include "describe/user_value.h"
#include "modules/adsr/adsr_pins.h"
#include "modules/adsr/segment_math.h"

namespace kvx::describe {
namespace {

std::string errorOf(const std::string& text) {
    try {
        parseDescription(text, "d.json");
    } catch (const DescriptionError& error) {
        return error.what();
    }
    return "";
}

TEST(Descriptions, TheEnvelopesMatchesItsPinIds) {
    const Description description = loadDescription(KVX_SOURCE_DIR "/modules/adsr/ADSR.kvx.json");
    ASSERT_EQ(description.modules.size(), 1u);
    const ModuleDescription& module = description.modules[0];
    EXPECT_EQ(module.id, "KV ADSR4");
    EXPECT_EQ(module.subtype, adsr::MODULE_SUBTYPE);
    ASSERT_EQ(module.pins.size(), static_cast<size_t>(adsr::PIN_COUNT));
    const struct {
        const char* symbol;
        int32_t id;
        Datatype datatype;
        Direction direction;
    } expected[] = {{"trigger", adsr::PIN_TRIGGER, Datatype::Bool, Direction::In},
                    {"gate", adsr::PIN_GATE, Datatype::Bool, Direction::In},
                    {"attack", adsr::PIN_ATTACK_TIME, Datatype::Audio, Direction::In},
                    {"decay", adsr::PIN_DECAY_TIME, Datatype::Audio, Direction::In},
                    {"sustain", adsr::PIN_SUSTAIN_LEVEL, Datatype::Audio, Direction::In},
                    {"release", adsr::PIN_RELEASE_TIME, Datatype::Audio, Direction::In},
                    {"attack_curve", adsr::PIN_ATTACK_CURVE, Datatype::Audio, Direction::In},
                    {"decay_curve", adsr::PIN_DECAY_CURVE, Datatype::Audio, Direction::In},
                    {"release_curve", adsr::PIN_RELEASE_CURVE, Datatype::Audio, Direction::In},
                    {"output", adsr::PIN_OUTPUT, Datatype::Audio, Direction::Out},
                    {"reset", adsr::PIN_RESET, Datatype::Float, Direction::In}};
    for (const auto& pin : expected) {
        SCOPED_TRACE(pin.symbol);
        const PinDescription* described = module.pinBySymbol(pin.symbol);
        ASSERT_NE(described, nullptr);
        EXPECT_EQ(described->id, pin.id);
        EXPECT_EQ(described->datatype, pin.datatype);
        EXPECT_EQ(described->direction, pin.direction);
    }
    EXPECT_EQ(module.pinBySymbol("attack-curve"), module.pinBySymbol("attack_curve"));
    EXPECT_EQ(module.inputWithRole(Role::Gate)->id, adsr::PIN_GATE);
    EXPECT_EQ(module.inputWithRole(Role::Reset)->id, adsr::PIN_RESET);
}

TEST(Descriptions, TheEnvelopesTimeMappingIsTheModulesOwn) {
    // seconds = 10^(4 * value - 3) in the module: 0 -> 1 ms, 0.5 -> 100 ms, 0.75 -> 1 s, 1 -> 10 s.
    const ModuleDescription module = loadDescription(KVX_SOURCE_DIR "/modules/adsr/ADSR.kvx.json").modules[0];
    for (const char* symbol : {"attack", "decay", "release"}) {
        const PinDescription& pin = *module.pinBySymbol(symbol);
        EXPECT_EQ(pin.unit, Unit::Seconds);
        EXPECT_EQ(pin.scale, Scale::Logarithmic);
        for (const auto& [seconds, value] :
             {std::pair{0.001, 0.0f}, {0.1, 0.5f}, {1.0, 0.75f}, {10.0, 1.0f}}) {
            EXPECT_EQ(pinValueFor(pin, seconds), value) << symbol << " " << seconds;
            EXPECT_NEAR(adsr::timeValueToSeconds(pinValueFor(pin, seconds)), seconds, seconds * 1e-6);
            EXPECT_NEAR(userValueFor(pin, value), seconds, seconds * 1e-12);
        }
        // Its range and default are durations the module can produce.
        EXPECT_EQ(pinValueFor(pin, *pin.minimum), 0.0f);
        EXPECT_EQ(pinValueFor(pin, *pin.maximum), 1.0f);
    }
}

TEST(Descriptions, TheExampleDescribesTheVca) {
    const Description description = loadDescription(KVX_SOURCE_DIR "/examples/vca/VCA.kvx.json");
    const ModuleDescription* module = description.find("KV VCA", 0);
    ASSERT_NE(module, nullptr);
    const PinDescription& level = *module->pinBySymbol("level");
    EXPECT_EQ(level.datatype, Datatype::Float);
    EXPECT_EQ(level.unit, Unit::Decibels);
    EXPECT_EQ(pinValueFor(level, -6.0), -6.0f) << "no mapping: the pin receives the user value";
    EXPECT_EQ(formatUserValue(level, -6.0), "-6 dB");
}

// Every file of a corpus folder fails with "<file>: <path>: ..." or "<file>: <path> (...".
void expectCorpusRefused(const std::string& folder) {
    std::ifstream list(folder + "/expected.txt");
    ASSERT_TRUE(list) << folder;
    std::string line;
    int cases = 0;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string file, path;
        fields >> file >> path;
        SCOPED_TRACE(file);
        const std::string where = folder + "/" + file;
        std::string message;
        try {
            loadDescription(where);
        } catch (const DescriptionError& error) {
            message = error.what();
        }
        ASSERT_FALSE(message.empty()) << "accepted";
        EXPECT_EQ(message.rfind(where + ": " + path + ": ", 0), 0u) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        ++cases;
    }
    EXPECT_GT(cases, 5);
}

TEST(Descriptions, InvalidOnesAreRefusedWhereTheyGoWrong) {
    expectCorpusRefused(KVX_DESCRIBE_CASES "/invalid");
}

TEST(Descriptions, WhatTheSchemaCannotSayIsRefusedToo) {
    expectCorpusRefused(KVX_DESCRIBE_CASES "/beyond-schema");
}

// Every number of a description at its limits and just past them: accepted with the value
// written, or refused at its JSON path.
TEST(Descriptions, NumbersAtAndJustPastTheirLimits) {
    const std::map<std::string, std::string> base{{"FORMAT", "1"},  {"SUBTYPE", "0"}, {"ID", "0"},
                                                  {"DEFAULT", "0"}, {"MIN", "-60"},   {"MAX", "12"},
                                                  {"LOW", "20"},    {"BASE", "10"},   {"SCALE", "1"}};
    const std::string text = R"({"format": FORMAT, "modules": [{"id": "T", "subtype": SUBTYPE, "symbol": "t",
        "name": "T", "pins": [
        {"id": ID, "symbol": "in", "name": "In", "datatype": "audio", "direction": "in", "role": "signal"},
        {"id": 1, "symbol": "gain", "name": "Gain", "datatype": "float", "direction": "in",
         "role": "parameter", "unit": "dB", "default": DEFAULT, "minimum": MIN, "maximum": MAX},
        {"id": 2, "symbol": "cutoff", "name": "Cutoff", "datatype": "audio", "direction": "in",
         "role": "parameter", "unit": "Hz", "default": 440, "minimum": LOW, "maximum": 20000,
         "scale": "logarithmic", "mapping": {"kind": "logarithmic", "base": BASE, "scale": SCALE, "offset": 0}},
        {"id": 3, "symbol": "out", "name": "Out", "datatype": "audio", "direction": "out", "role": "signal"}]}]})";
    auto gain = [](const ModuleDescription& m) { return *m.pinBySymbol("gain"); };
    struct Row {
        std::map<std::string, std::string> fields;
        const char* path;                                              // refused here; null: accepted
        std::function<bool(const ModuleDescription&)> read = nullptr;  // accepted: the value as written
    };
    const int32_t most = std::numeric_limits<int32_t>::max(), least = std::numeric_limits<int32_t>::min();
    const std::vector<Row> rows{
        {{{"FORMAT", "0"}}, "$.format"},
        {{{"SUBTYPE", "2147483647"}}, nullptr, [&](const ModuleDescription& m) { return m.subtype == most; }},
        {{{"SUBTYPE", "-2147483648"}},
         nullptr,
         [&](const ModuleDescription& m) { return m.subtype == least; }},
        {{{"SUBTYPE", "2147483648"}}, "$.modules[0].subtype"},
        {{{"SUBTYPE", "-2147483649"}}, "$.modules[0].subtype"},
        {{{"ID", "2147483647"}},
         nullptr,
         [&](const ModuleDescription& m) { return m.pins.back().id == most; }},
        {{{"ID", "2147483648"}}, "$.modules[0].pins[0].id"},
        {{{"DEFAULT", "-60"}},
         nullptr,
         [&](const ModuleDescription& m) { return gain(m).defaultValue == -60.0; }},
        {{{"DEFAULT", "12"}},
         nullptr,
         [&](const ModuleDescription& m) { return gain(m).defaultValue == 12.0; }},
        {{{"DEFAULT", "-60.000001"}}, "$.modules[0].pins[1].default"},
        {{{"DEFAULT", "12.000001"}}, "$.modules[0].pins[1].default"},
        {{{"MIN", "0"}, {"MAX", "0"}},
         nullptr,
         [&](const ModuleDescription& m) { return gain(m).minimum == 0.0 && gain(m).maximum == 0.0; }},
        {{{"MIN", "-60"}, {"MAX", "-60.000001"}, {"DEFAULT", "-60"}}, "$.modules[0].pins[1].maximum"},
        {{{"LOW", "1e-300"}},
         nullptr,
         [](const ModuleDescription& m) { return m.pinBySymbol("cutoff")->minimum == 1e-300; }},
        {{{"LOW", "-1"}}, "$.modules[0].pins[2].minimum"},
        {{{"BASE", "2"}},
         nullptr,
         [](const ModuleDescription& m) { return m.pinBySymbol("cutoff")->mapping->base == 2; }},
        {{{"BASE", "1"}}, "$.modules[0].pins[2].mapping.base"},
        {{{"BASE", "10.5"}}, "$.modules[0].pins[2].mapping.base"},
        {{{"SCALE", "1e-300"}},
         nullptr,
         [](const ModuleDescription& m) { return m.pinBySymbol("cutoff")->mapping->scale == 1e-300; }},
        {{{"SCALE", "-0.0"}}, "$.modules[0].pins[2].mapping.scale"},
    };
    for (const Row& row : rows) {
        std::string description = text;
        std::map<std::string, std::string> fields = base;
        for (const auto& [key, value] : row.fields) fields[key] = value;
        std::string trace;
        for (const auto& [key, value] : row.fields) trace += key + "=" + value + " ";
        SCOPED_TRACE(trace);
        for (const auto& [key, value] : fields)
            for (size_t at = description.find(key); at != std::string::npos; at = description.find(key, at))
                description.replace(at, key.size(), value);
        if (row.path == nullptr) {
            EXPECT_EQ(errorOf(description), "");
            if (errorOf(description).empty()) {
                EXPECT_TRUE(row.read(parseDescription(description, "d.json").modules.at(0)));
            }
        } else {
            EXPECT_EQ(errorOf(description).rfind("d.json: " + std::string(row.path) + ": ", 0), 0u)
                << errorOf(description);
        }
    }
}

TEST(Descriptions, SyntaxErrorsGiveThePathLineAndColumn) {
    struct Case {
        const char* text;
        const char* start;
    };
    for (const Case& c : {
             Case{"{\"format\": 1, \"modules\": [{\"id\": \"T\", \"pins\": [{\"id\": 0}, {\"id\": 1,}]}]}",
                  "d.json: $.modules[0].pins[1] (line 1, column 68): malformed JSON: syntax error"},
             Case{"{\n  \"format\": 1,\n  \"modules\": [\n    {\"id\": tru}\n  ]\n}",
                  "d.json: $.modules[0].id (line 4, column 15): malformed JSON"},
             Case{"", "d.json: $ (line 1, column 1): malformed JSON"},
             Case{"{\"a b\": [1, 2", "d.json: $[\"a b\"][1] (line 1, column 14): malformed JSON"},
             // A number too large for a double: refused where it stands, not thrown past the reader.
             Case{"{\"format\": 1, \"modules\": [{\"pins\": [{\"maximum\": 1e400}]}]}",
                  "d.json: $.modules[0].pins[0].maximum: malformed JSON: number overflow parsing '1e400'"},
         }) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(errorOf(c.text).rfind(c.start, 0), 0u) << errorOf(c.text);
    }
}

TEST(Descriptions, PinsComeOutInIdOrder) {
    const Description description = parseDescription(R"({"format": 1, "modules": [{"id": "T", "subtype": -3,
        "symbol": "t", "name": "T", "pins": [
          {"id": 5, "symbol": "b", "name": "B", "datatype": "audio", "direction": "out", "role": "signal"},
          {"id": 2, "symbol": "a", "name": "A", "datatype": "bool", "direction": "in", "role": "gate", "default": true}]}]})",
                                                     "d.json");
    const ModuleDescription& module = description.modules[0];
    EXPECT_EQ(module.subtype, -3);
    ASSERT_EQ(module.pins.size(), 2u);
    EXPECT_EQ(module.pins[0].symbol, "a");
    EXPECT_EQ(module.pins[0].defaultValue, 1.0);
    EXPECT_EQ(module.pins[1].symbol, "b");
    EXPECT_EQ(description.find("T", 0), nullptr);
    EXPECT_EQ(description.find("T", -3), &module);
}

// A range may close on one value, and a default may sit on either end of it.
TEST(Descriptions, RangesAreClosedAtBothEnds) {
    for (const char* range :
         {R"("minimum": 0.5, "maximum": 0.5, "default": 0.5)",
          R"("minimum": -1, "maximum": 1, "default": -1)", R"("minimum": -1, "maximum": 1, "default": 1)"}) {
        SCOPED_TRACE(range);
        const std::string text =
            std::string(R"({"format": 1, "modules": [{"id": "T", "subtype": 0, "symbol": "t",
            "name": "T", "pins": [{"id": 0, "symbol": "p", "name": "P", "datatype": "float", "direction": "in",
            "role": "parameter", "unit": "none", )") +
            range + "}]}]}";
        EXPECT_EQ(errorOf(text), "");
    }
}

TEST(Descriptions, MappingsFollowTheFormatsDefinition) {
    PinDescription pin;
    pin.mapping = Mapping{Mapping::Kind::Linear, 10, 0.01, -0.5};
    EXPECT_EQ(pinValueFor(pin, 75.0), 0.25f);
    EXPECT_DOUBLE_EQ(userValueFor(pin, 0.25), 75.0);
    pin.mapping = Mapping{Mapping::Kind::Logarithmic, 2, 12.0, -69.0};  // semitones from 2^(69/12) Hz
    EXPECT_FLOAT_EQ(pinValueFor(pin, 440.0), static_cast<float>(12.0 * std::log2(440.0) - 69.0));
    EXPECT_NEAR(userValueFor(pin, pinValueFor(pin, 440.0)), 440.0, 1e-3);
}

TEST(Descriptions, UserValuesAreReadInThePinsUnit) {
    PinDescription seconds, hertz, level, plain, toggle;
    seconds.unit = Unit::Seconds;
    hertz.unit = Unit::Hertz;
    level.unit = Unit::Decibels;
    toggle.datatype = Datatype::Bool;
    const struct {
        const PinDescription& pin;
        const char* text;
        bool read;
        double user;
    } rows[] = {{seconds, "5ms", true, 0.005},
                {seconds, " 1.5 s ", true, 1.5},
                {seconds, "+2", true, 2.0},
                {seconds, "2", true, 2.0},
                {hertz, "1.5kHz", true, 1500.0},
                {hertz, "440 Hz", true, 440.0},
                {level, "-6dB", true, -6.0},
                {level, "-6db", true, -6.0},
                {plain, "-0.25", true, -0.25},
                {toggle, "on", true, 1.0},
                {toggle, "no", true, 0.0},
                // Refused: typos, units of another kind or none, no number, numbers beyond a double.
                {seconds, "5 mss", false, 0},
                {seconds, "5sec", false, 0},
                {seconds, "5dB", false, 0},
                {seconds, "480smp", false, 0},
                {hertz, "5ms", false, 0},
                {plain, "5%", false, 0},
                {level, "dB", false, 0},
                {level, "+-6dB", false, 0},
                {plain, "", false, 0},
                {plain, "inf", false, 0},
                {seconds, "1e400ms", false, 0},
                {toggle, "1", false, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        double user = -99.0;
        EXPECT_EQ(parseUserValue(row.text, row.pin, user), row.read);
        if (row.read) {
            EXPECT_DOUBLE_EQ(user, row.user);
        }
    }
    EXPECT_EQ(userValueExamples(seconds), "a duration such as 5ms or 1.2s");
}

}  // namespace
}  // namespace kvx::describe
