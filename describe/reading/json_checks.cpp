// SPDX-License-Identifier: MIT
// JSON paths, and parse errors that name their place, for the readers of our JSON files.
#include "describe/reading/json_checks.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace kvx::describe::reading {

JsonPath JsonPath::key(const std::string& name) const {
    JsonPath next(*this);
    bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
    for (char c : name)
        plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$');
    next.text += plain ? "." + name : "[" + json(name).dump() + "]";
    return next;
}

JsonPath JsonPath::index(size_t i) const {
    JsonPath next(*this);
    next.text += "[" + std::to_string(i) + "]";
    return next;
}

namespace {

// Follows a parse to the place where it fails, for the JSON path of a syntax error.
class PathTracker : public nlohmann::json_sax<json> {
public:
    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override { return open(false); }
    bool key(string_t& name) override {
        frames.back().key = name;
        frames.back().keyed = true;
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(true); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

    JsonPath path() const {
        JsonPath at;
        for (const Frame& frame : frames) {
            if (frame.array && frame.count > 0) at = at.index(frame.count - 1);
            if (!frame.array && frame.keyed) at = at.key(frame.key);
        }
        return at;
    }

private:
    struct Frame {
        bool array = false;
        size_t count = 0;  // elements started so far (arrays)
        bool keyed = false;
        std::string key;
    };
    // A value starts: the next element of an array.
    void starts() {
        if (!frames.empty() && frames.back().array) ++frames.back().count;
    }
    // A value is complete: in an object, a mistake after it is the object's, not the key's.
    void ends() {
        if (!frames.empty() && !frames.back().array) frames.back().keyed = false;
    }
    bool value() {
        starts();
        ends();
        return true;
    }
    bool open(bool array) {
        starts();
        frames.push_back(Frame{array, 0, false, {}});
        return true;
    }
    bool close() {
        frames.pop_back();
        ends();
        return true;
    }
    std::vector<Frame> frames;
};

// Line and column (1-based, a tab one column) of byte `offset`, the character the parser stopped at.
std::string position(std::string_view text, size_t offset) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i + 1 < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

std::string shown(const json& value) {
    std::string text = value.dump();
    return text.size() > 40 ? text.substr(0, 37) + "..." : text;
}

bool isSymbol(const std::string& text) {
    if (text.empty() || text.size() > 64) return false;
    if (!(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) return false;
    for (char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    return true;
}

std::string oneLine(std::string text) {
    if (std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return text;
    std::string escaped;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x20) {
            escaped += c;
        } else {
            const std::string quoted = json(std::string(1, c)).dump();  // "\n", "\u0001"
            escaped += quoted.substr(1, quoted.size() - 2);
        }
    }
    return escaped;
}

bool parse(std::string_view text, json& root, std::string& problem) {
    try {
        root = json::parse(text);
        return true;
    } catch (const json::exception& error) {
        // A syntax error (parse_error), or a number beyond the range of a double (out_of_range).
        PathTracker tracker;
        json::sax_parse(text, &tracker);
        std::string message = error.what();
        std::string where = tracker.path().str();
        if (const auto* syntax = dynamic_cast<const json::parse_error*>(&error)) {
            // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..."
            // without the tag and the position, which come first in our words.
            const size_t colon = message.find(": ");
            if (colon != std::string::npos) message = message.substr(colon + 2);
            where += " (" + position(text, syntax->byte) + ")";
        } else {
            const size_t tagEnd = message.find("] ");
            if (tagEnd != std::string::npos) message = message.substr(tagEnd + 2);
        }
        problem = where + ": malformed JSON: " + message;
        return false;
    }
}

}  // namespace kvx::describe::reading
