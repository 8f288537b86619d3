// SPDX-License-Identifier: MIT
// Build version and build text reported by getBuildInfo. The one place these numbers live.
#pragma once

#include <cstdint>

namespace kvx {

constexpr int32_t BUILD_VERSION = 30800;
constexpr int32_t BUILD_COMPILER_VERSION = 1933;  // shown as "MS Compiler V1933 (Release)"
// Code units of the build text plus its terminating zero: the smallest capacity that gets it.
constexpr int32_t BUILD_TEXT_CAPACITY = 28;

}  // namespace kvx
