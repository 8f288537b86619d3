// SPDX-License-Identifier: MIT
// The progress bar of `kvx render`.
#include "render/progress.h"

#include <unistd.h>

#include <cstdio>

namespace kvx::render {

ProgressBar::ProgressBar() : terminal(isatty(STDERR_FILENO) == 1), start(std::chrono::steady_clock::now()) {}

void ProgressBar::update(const char* what, int64_t done, int64_t total) {
    if (!terminal || total <= 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start < std::chrono::seconds(1)) return;
    if (drawn && now - lastDrawn < std::chrono::milliseconds(100)) return;
    lastDrawn = now;
    constexpr int WIDTH = 40;
    const double share = static_cast<double>(done) / static_cast<double>(total);
    const int filled = static_cast<int>(share * WIDTH);
    char bar[WIDTH + 1];
    for (int i = 0; i < WIDTH; ++i) bar[i] = i < filled ? '#' : '.';
    bar[WIDTH] = '\0';
    std::fprintf(stderr, "\r%-9s [%s] %3d%%", what, bar, static_cast<int>(share * 100.0));
    std::fflush(stderr);
    drawn = true;
}

void ProgressBar::finish() {
    if (!drawn) return;
    std::fprintf(stderr, "\r%*s\r", 60, "");
    std::fflush(stderr);
    drawn = false;
}

}  // namespace kvx::render
