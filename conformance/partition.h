// SPDX-License-Identifier: MIT
// How a host cuts a session into blocks: the sample counts of its process calls, in order.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace kvx::conformance {

// Blocks of `blockSize` samples, the last one shorter when `length` is not a multiple.
std::vector<int32_t> fixedPartition(int64_t length, int32_t blockSize);
// Mostly moderate blocks (1 to 512 samples), some single samples, some up to `maxBlock`.
std::vector<int32_t> randomPartition(int64_t length, std::mt19937_64& random, int32_t maxBlock);

}  // namespace kvx::conformance
