// SPDX-License-Identifier: MIT
// What the bridge takes from the LV2 features a host passes to instantiate: the URID map (needed
// to recognise MIDI events, otherwise to name log levels and options), the log, and the largest
// block the host will run (buf-size's maxBlockLength, through options).
#pragma once

#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <string>

namespace kvx::lv2 {

struct HostFeatures {
    LV2_URID_Map* map = nullptr;
    LV2_Log_Log* log = nullptr;
    int32_t maxBlockLength = 0;  // 0 when not offered

    static HostFeatures from(const LV2_Feature* const* features) noexcept;

    // One line through the host's log as an error when it offers one (and the map), else on
    // standard error. Not for the audio thread.
    void error(const std::string& message) const noexcept;
};

}  // namespace kvx::lv2
