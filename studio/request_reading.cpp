// SPDX-License-Identifier: MIT
#include "studio/request_reading.h"

#include <charconv>

namespace kvx::studio {

namespace {

// A number as the shortest text that reads back as the same double.
std::string shortest(double value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

}  // namespace

nlohmann::json requestObject(const std::string& body) {
    nlohmann::json request;
    try {
        request = nlohmann::json::parse(body);
    } catch (const nlohmann::json::parse_error& error) {
        throw RequestError(400, std::string("the request is not JSON: ") + error.what());
    }
    if (!request.is_object()) throw RequestError(400, "the request must be a JSON object");
    return request;
}

std::string flagText(const nlohmann::json& value, const std::string& field) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "on" : "off";
    if (value.is_number()) return shortest(value.get<double>());
    throw RequestError(400, field + ": expected a number or a string, got " + value.dump());
}

std::string timeText(const nlohmann::json& value, const std::string& field) {
    if (value.is_number()) return shortest(value.get<double>()) + "s";
    if (value.is_string()) return value.get<std::string>();
    throw RequestError(400, field + ": expected seconds or a time such as \"120ms\", got " + value.dump());
}

std::vector<std::string> settingTexts(const nlohmann::json& settings) {
    if (!settings.is_object()) throw RequestError(400, "settings: expected an object of NAME: VALUE");
    std::vector<std::string> texts;
    for (const auto& [name, setting] : settings.items())
        texts.push_back(name + "=" + flagText(setting, "settings." + name));
    return texts;
}

}  // namespace kvx::studio
