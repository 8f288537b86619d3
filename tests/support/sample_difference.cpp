// SPDX-License-Identifier: MIT
#include "tests/support/sample_difference.h"

#include <cstdio>
#include <cstring>

namespace kvx::test {

std::string firstDifference(const std::vector<float>& got, const std::vector<float>& expected) {
    if (got.size() != expected.size())
        return "lengths differ: " + std::to_string(got.size()) + " and " + std::to_string(expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        if (std::memcmp(&got[i], &expected[i], sizeof(float)) != 0) {
            char text[160];
            std::snprintf(text, sizeof text, "sample %zu: %.9g, expected %.9g", i,
                          static_cast<double>(got[i]), static_cast<double>(expected[i]));
            return text;
        }
    return "";
}

}  // namespace kvx::test
