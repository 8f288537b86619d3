// SPDX-License-Identifier: MIT
// ModuleRegistry: insertion with the first-registration-wins rule, and exact lookup.
#include "factory/module_registry.h"

#include <stdexcept>

namespace kvx {

void ModuleRegistry::add(int32_t subtype, std::u16string_view id, CreatorFunction creator) {
    if (entries.find(KeyView{subtype, id}) != entries.end()) return;
    if (entries.size() >= entries.max_size()) throw std::length_error("map/set too long");
    entries.emplace(Key{subtype, std::u16string(id)}, creator);
}

CreatorFunction ModuleRegistry::find(int32_t subtype, std::u16string_view id) const noexcept {
    auto found = entries.find(KeyView{subtype, id});
    return found == entries.end() ? nullptr : found->second;
}

}  // namespace kvx
