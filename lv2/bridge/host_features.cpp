// SPDX-License-Identifier: MIT
// Reading the host's features.
#include "lv2/bridge/host_features.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>

#include <cstdio>
#include <cstring>

namespace kvx::lv2 {

HostFeatures HostFeatures::from(const LV2_Feature* const* features) noexcept {
    HostFeatures found;
    const LV2_Options_Option* options = nullptr;
    for (const LV2_Feature* const* feature = features; feature != nullptr && *feature != nullptr; ++feature) {
        const char* uri = (*feature)->URI;
        if (std::strcmp(uri, LV2_URID__map) == 0)
            found.map = static_cast<LV2_URID_Map*>((*feature)->data);
        else if (std::strcmp(uri, LV2_LOG__log) == 0)
            found.log = static_cast<LV2_Log_Log*>((*feature)->data);
        else if (std::strcmp(uri, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>((*feature)->data);
    }
    if (options != nullptr && found.map != nullptr) {
        const LV2_URID maxBlock = found.map->map(found.map->handle, LV2_BUF_SIZE__maxBlockLength);
        const LV2_URID atomInt = found.map->map(found.map->handle, LV2_ATOM__Int);
        for (const LV2_Options_Option* option = options; option->key != 0; ++option)
            if (option->key == maxBlock && option->type == atomInt && option->size == sizeof(int32_t) &&
                option->value != nullptr)
                found.maxBlockLength = *static_cast<const int32_t*>(option->value);
    }
    return found;
}

void HostFeatures::error(const std::string& message) const noexcept {
    if (log != nullptr && map != nullptr) {
        const LV2_URID level = map->map(map->handle, LV2_LOG__Error);
        log->printf(log->handle, level, "%s\n", message.c_str());
    } else {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
}

}  // namespace kvx::lv2
