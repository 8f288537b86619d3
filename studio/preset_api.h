// SPDX-License-Identifier: MIT
// POST /api/preset: the page's settings as an LV2 preset of each plug-in `kvx lv2` makes of the
// subject, every control port given its value (the setting, else what the render would use).
#pragma once

#include <string>

#include "studio/render_api.h"

namespace kvx::studio {

// `body` is {"name": LABEL, "settings": {NAME: VALUE}}, the settings as /api/render takes them.
// Answers {"uri", "presets": [{"plugin", "uri"}], "ttl", "install", "leftOut", "warnings"}: `ttl`
// is the manifest.ttl of a preset bundle, `install` where a host finds it. Throws RequestError.
std::string presetJson(const Subject& subject, const std::string& body);

}  // namespace kvx::studio
