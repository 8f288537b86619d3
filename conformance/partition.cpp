// SPDX-License-Identifier: MIT
// Block partitions of a session.
#include "conformance/partition.h"

#include <algorithm>

namespace kvx::conformance {

std::vector<int32_t> fixedPartition(int64_t length, int32_t blockSize) {
    std::vector<int32_t> blocks;
    for (int64_t done = 0; done < length; done += blockSize)
        blocks.push_back(static_cast<int32_t>(std::min<int64_t>(blockSize, length - done)));
    return blocks;
}

std::vector<int32_t> randomPartition(int64_t length, std::mt19937_64& random, int32_t maxBlock) {
    std::vector<int32_t> blocks;
    for (int64_t done = 0; done < length;) {
        // Mostly moderate blocks, some single samples, some long ones.
        const int kind = std::uniform_int_distribution<int>(0, 9)(random);
        int32_t size = kind == 0  ? 1
                       : kind < 8 ? std::uniform_int_distribution<int32_t>(1, std::min(maxBlock, 512))(random)
                                  : std::uniform_int_distribution<int32_t>(1, maxBlock)(random);
        size = static_cast<int32_t>(std::min<int64_t>(size, length - done));
        blocks.push_back(size);
        done += size;
    }
    return blocks;
}

}  // namespace kvx::conformance
