// SPDX-License-Identifier: MIT
// UriMap: the URID map a host of our LV2 bundles offers (the tests' and the benchmarks' lilv
// hosts): each new URI gets the next number from 1 and keeps it for the map's life.
#pragma once

#include <lv2/urid/urid.h>

#include <string>
#include <vector>

namespace kvx::lv2 {

class UriMap {
public:
    UriMap();
    UriMap(const UriMap&) = delete;  // the feature points at this object
    UriMap& operator=(const UriMap&) = delete;

    LV2_URID map(const char* uri);
    // What the host offers as LV2_URID__map.
    LV2_URID_Map* feature() { return &urid; }

private:
    static LV2_URID mapThrough(LV2_URID_Map_Handle handle, const char* uri);

    std::vector<std::string> uris;  // URID n is uris[n - 1]
    LV2_URID_Map urid{};
};

}  // namespace kvx::lv2
