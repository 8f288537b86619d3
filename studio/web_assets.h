// SPDX-License-Identifier: MIT
// The page's files (studio/web/), built into the program so that it needs no web root: looked up
// by name only, so no request can reach a file on disk.
#pragma once

#include <string_view>

namespace kvx::studio {

struct WebAsset {
    std::string_view name;  // "index.html", "studio.js"
    std::string_view bytes;
};

// The file `name`, or null.
const WebAsset* findWebAsset(std::string_view name);

// "text/html; charset=utf-8" and the like, by the name's extension.
const char* contentTypeFor(std::string_view name);

}  // namespace kvx::studio
