// SPDX-License-Identifier: MIT
// The name a person most likely meant by a mistyped word (a command, an option): the one fewest
// edits away, offered only when it is close enough to be a fair guess.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::cli {

// Insertions, deletions, substitutions and swaps of two neighbours ("atack", "rednr") needed to
// turn `a` into `b`, each counting one.
inline size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t substitution = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, substitution});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// The nearest of `names` to `word`, or "" when none is close: at most two edits away (and fewer
// edits than the word has letters, so that "x" suggests nothing), or begun by the word when it
// has two letters or more ("val" for "validate"). Ties go to the earlier name.
inline std::string nearestName(std::string_view word, const std::vector<std::string>& names) {
    std::string nearest;
    size_t nearestDistance = 0;
    for (const std::string& name : names) {
        const size_t distance = editDistance(word, name);
        const bool close = (distance <= 2 && distance < word.size()) ||
                           (word.size() >= 2 && std::string_view(name).starts_with(word));
        if (close && (nearest.empty() || distance < nearestDistance)) {
            nearest = name;
            nearestDistance = distance;
        }
    }
    return nearest;
}

}  // namespace kvx::cli
