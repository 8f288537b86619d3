// SPDX-License-Identifier: MIT
// Content types of the page's files.
#include "studio/web_assets.h"

namespace kvx::studio {

const char* contentTypeFor(std::string_view name) {
    auto endsWith = [name](std::string_view end) { return name.ends_with(end); };
    if (endsWith(".html")) return "text/html; charset=utf-8";
    if (endsWith(".js") || endsWith(".mjs")) return "text/javascript; charset=utf-8";
    if (endsWith(".css")) return "text/css; charset=utf-8";
    if (endsWith(".svg")) return "image/svg+xml";
    if (endsWith(".png")) return "image/png";
    if (endsWith(".json")) return "application/json";
    return "application/octet-stream";
}

}  // namespace kvx::studio
