// SPDX-License-Identifier: MIT
// What the API's requests have in common: a JSON object in the body, values written as
// `kvx render` takes them on its command line, and the render's refusals as 400s.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "host/host_error.h"
#include "patch/patch_reader.h"
#include "render/error.h"
#include "studio/render_api.h"

namespace kvx::studio {

// The body as a JSON object. Throws RequestError (400) otherwise.
nlohmann::json requestObject(const std::string& body);

// A value as `kvx render` takes it on its command line: text as written, a number in its shortest
// exact form (a plain number is a pin value there too), true/false as on/off.
std::string flagText(const nlohmann::json& value, const std::string& field);

// A time: a number of seconds, or text with s, ms or smp.
std::string timeText(const nlohmann::json& value, const std::string& field);

// "NAME=VALUE" for each of the request's "settings", as `kvx render --set` takes them.
std::vector<std::string> settingTexts(const nlohmann::json& settings);

// Runs `read`, turning what `kvx render` reports as a wrong input into a 400.
template <typename Read>
auto refusingBadInput(Read&& read) {
    try {
        return read();
    } catch (const render::RenderError& error) {
        throw RequestError(400, error.what());
    } catch (const patch::PatchError& error) {
        throw RequestError(400, error.what());
    } catch (const host::HostError& error) {
        throw RequestError(400, error.what());
    }
}

}  // namespace kvx::studio
