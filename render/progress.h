// SPDX-License-Identifier: MIT
// A progress bar for long renders: drawn on standard error only when that is a terminal and the
// render has already taken about a second, so short renders and redirected output stay clean.
#pragma once

#include <chrono>
#include <cstdint>

namespace kvx::render {

class ProgressBar {
public:
    ProgressBar();
    // Shows `done` of `total` for the step named `what` (at most ten redraws a second).
    void update(const char* what, int64_t done, int64_t total);
    // Erases the bar if it was drawn.
    void finish();

private:
    bool terminal;
    bool drawn = false;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDrawn;
};

}  // namespace kvx::render
