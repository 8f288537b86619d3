// SPDX-License-Identifier: MIT
// FUZZ_CHECK(condition[, format, args...]): the way every fuzz target reports a broken invariant.
// libFuzzer keeps an input that aborts, so the check prints what broke (and, given a format, the
// values involved) and aborts; an exception would only be a refused input to the targets.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                     \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "invariant broken: %s", #condition);                  \
            __VA_OPT__(std::fprintf(stderr, ": "); std::fprintf(stderr, __VA_ARGS__);) \
            std::fprintf(stderr, "\n");                                                \
            std::abort();                                                              \
        }                                                                              \
    } while (0)
