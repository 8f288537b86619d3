// SPDX-License-Identifier: MIT
// UriMap: a linear search, enough for the few dozen URIs a host and one plug-in use.
#include "lv2/host_support/uri_map.h"

namespace kvx::lv2 {

UriMap::UriMap() : urid{this, mapThrough} { uris.reserve(64); }

LV2_URID UriMap::map(const char* uri) {
    for (size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris.emplace_back(uri);
    return static_cast<LV2_URID>(uris.size());
}

LV2_URID UriMap::mapThrough(LV2_URID_Map_Handle handle, const char* uri) {
    return static_cast<UriMap*>(handle)->map(uri);
}

}  // namespace kvx::lv2
