// SPDX-License-Identifier: MIT
// What the LV2 plug-ins do when the host's block size changes: the bridge must not change by one
// bit; Faust's en.adsre through faust2lv2 sees its gate control only at the start of a run.
#pragma once

#include <cstdint>
#include <map>

namespace kvx::bench {

struct Lv2BlockStudy {
    bool bridgeIdentical = false;                      // runs of 64 and 512 == runs of 1, bit for bit
    int64_t bridgeOnset = -1;                          // first moving sample, note on at frame 1000
    std::map<int32_t, int64_t> faustOnset;             // by run length
    std::map<int32_t, double> faustLargestDifference;  // by run length, against runs of 1
};

Lv2BlockStudy studyLv2BlockSizes();

}  // namespace kvx::bench
