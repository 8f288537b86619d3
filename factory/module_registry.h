// SPDX-License-Identifier: MIT
// ModuleRegistry: the (subtype, id) -> creator map a factory creates instances from.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "interfaces/mp_unknown.h"

namespace kvx {

// Creates a new instance holding one reference; may throw (out of memory).
using CreatorFunction = IMpUnknown* (*)();

class ModuleRegistry {
public:
    // Adds the entry unless the key is taken: the first registration of a key wins, later ones
    // are dropped silently. Throws std::length_error("map/set too long") when full.
    void add(int32_t subtype, std::u16string_view id, CreatorFunction creator);

    // The creator registered under exactly (subtype, id), or null when there is none.
    // Does not allocate: hosts may call it on any thread once loading is over.
    CreatorFunction find(int32_t subtype, std::u16string_view id) const noexcept;

    size_t size() const noexcept { return entries.size(); }

    // Entries in key order: by subtype as signed numbers, then by id code unit by code unit as
    // unsigned numbers, a prefix before the longer id.
    template <typename Visit>
    void forEach(Visit visit) const {
        for (const auto& [key, creator] : entries) visit(key.subtype, std::u16string_view(key.id), creator);
    }

private:
    struct Key {
        int32_t subtype;
        std::u16string id;  // the registry's own copy
    };
    struct KeyView {
        int32_t subtype;
        std::u16string_view id;
    };
    struct KeyOrder {
        using is_transparent = void;
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const noexcept {
            if (a.subtype != b.subtype) return a.subtype < b.subtype;
            // char16_t is unsigned, so this compares code units as unsigned numbers.
            return std::u16string_view(a.id) < std::u16string_view(b.id);
        }
    };
    std::map<Key, CreatorFunction, KeyOrder> entries;
};

}  // namespace kvx
