// SPDX-License-Identifier: MIT
// What the readers of our JSON files (descriptions, patches) share: the JSON path of a value, a
// parse whose syntax errors name the place, and field checks that fail with one line naming the
// file, the path and what was expected there. Built into kvx::describe, not installed: it speaks
// nlohmann::json, which the installed headers do not.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace kvx::describe::reading {

using nlohmann::json;

// "$.modules[0].pins[3]": where a value sits in the document.
class JsonPath {
public:
    JsonPath() = default;
    JsonPath key(const std::string& name) const;  // .name, or ["odd name"]
    JsonPath index(size_t i) const;
    const std::string& str() const { return text; }

private:
    std::string text = "$";
};

// Parses `text`. On a syntax error (or a number beyond a double) returns false and sets
// `problem` to "PATH (line L, column C): malformed JSON: WHAT", without the file.
bool parse(std::string_view text, json& root, std::string& problem);

// A value as a message shows it: its JSON text, cut at 40 characters.
std::string shown(const json& value);

// A C identifier of 1 to 64 characters: how files name modules, pins and controls.
bool isSymbol(const std::string& text);

// `text` with its control characters escaped as JSON escapes them ("\n"): a message quotes what
// the file wrote, and must stay one line.
std::string oneLine(std::string text);

// Field checks of one file; every failure throws Error("SOURCE: PATH: ...").
template <typename Error>
class Checks {
public:
    explicit Checks(std::string sourceName) : source(std::move(sourceName)) {}

    [[noreturn]] void fail(const JsonPath& at, const std::string& expected, const json& got) const {
        throw Error(oneLine(source + ": " + at.str() + ": expected " + expected + ", got " + shown(got)));
    }
    [[noreturn]] void fail(const JsonPath& at, const std::string& message) const {
        throw Error(oneLine(source + ": " + at.str() + ": " + message));
    }

    // An object holding only `allowed` fields and every one of `required`.
    void object(const json& value, const JsonPath& at, std::initializer_list<const char*> allowed,
                std::initializer_list<const char*> required) const {
        if (!value.is_object()) fail(at, "an object", value);
        for (const auto& item : value.items()) {
            const std::string& key = item.key();
            if (std::find_if(allowed.begin(), allowed.end(), [&](const char* k) { return key == k; }) ==
                allowed.end()) {
                std::string names;
                for (const char* k : allowed) names += (names.empty() ? "" : ", ") + std::string(k);
                fail(at.key(key), "unknown field \"" + key + "\" (expected " + names + ")");
            }
        }
        for (const char* key : required)
            if (!value.contains(key)) fail(at, "missing field \"" + std::string(key) + "\"");
    }

    int64_t integer(const json& value, const JsonPath& at, int64_t low, int64_t high) const {
        const std::string expected =
            "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        if (!value.is_number()) fail(at, expected, value);
        const double number = value.get<double>();
        if (value.is_number_float() && number != std::floor(number)) fail(at, expected, value);
        if (number < static_cast<double>(low) || number > static_cast<double>(high))
            fail(at, expected, value);
        if (value.is_number_unsigned()) return static_cast<int64_t>(value.get<uint64_t>());
        if (value.is_number_integer()) return value.get<int64_t>();
        return static_cast<int64_t>(number);
    }

    double number(const json& value, const JsonPath& at) const {
        // A literal beyond the range of a double reads as infinity: no use for a pin.
        if (!value.is_number() || !std::isfinite(value.get<double>())) fail(at, "a finite number", value);
        return value.get<double>();
    }

    std::string text(const json& value, const JsonPath& at, size_t longest, bool printableAscii) const {
        const std::string expected =
            printableAscii
                ? "printable ASCII text of 1 to " + std::to_string(longest) + " characters"
                : "text of 1 to " + std::to_string(longest) + " characters without control characters";
        if (!value.is_string()) fail(at, expected, value);
        const std::string result = value.get<std::string>();
        size_t characters = 0;
        for (unsigned char c : result) {
            if ((c & 0xC0) != 0x80) ++characters;  // UTF-8 lead bytes: one character each
            if (c < 0x20 || (printableAscii && c > 0x7E)) fail(at, expected, value);
        }
        if (characters == 0 || characters > longest) fail(at, expected, value);
        return result;
    }

    std::string symbol(const json& value, const JsonPath& at) const {
        if (!value.is_string() || !isSymbol(value.get<std::string>()))
            fail(at, "a symbol: a C identifier of at most 64 characters ([A-Za-z_][A-Za-z0-9_]*)", value);
        return value.get<std::string>();
    }

    // One of `choices`, spelt as `name` spells it (the same words the tools print).
    template <typename Enum>
    Enum choice(const json& value, const JsonPath& at, std::initializer_list<Enum> choices,
                const char* (*name)(Enum)) const {
        if (value.is_string())
            for (const Enum meaning : choices)
                if (value.get<std::string>() == name(meaning)) return meaning;
        std::string words;
        for (const Enum meaning : choices) words += (words.empty() ? "" : ", ") + json(name(meaning)).dump();
        fail(at, "one of " + words, value);
    }

    // The document `text`, parsed; a syntax error fails naming its place.
    json document(std::string_view text) const {
        json root;
        std::string problem;
        if (!parse(text, root, problem)) throw Error(oneLine(source + ": " + problem));
        return root;
    }

    const std::string& file() const { return source; }

private:
    std::string source;
};

}  // namespace kvx::describe::reading
