// SPDX-License-Identifier: MIT
// The first sample where two outputs differ in any bit (-0 against +0 and NaN payloads count), as
// a message for a failing expectation.
#pragma once

#include <string>
#include <vector>

namespace kvx::test {

// Empty when the two are identical bit for bit; else "sample N: got, expected" or the lengths.
std::string firstDifference(const std::vector<float>& got, const std::vector<float>& expected);

}  // namespace kvx::test
