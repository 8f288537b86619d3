// SPDX-License-Identifier: MIT
// RegisteredModule: a module class registered with its library's factory in one line, creator
// included. At namespace scope in the module's source file:
//   const kvx::RegisteredModule<Vca> registration{0, u"KV VCA"};
// registers Vca under subtype 0 and id "KV VCA" while the library loads. Hosts then create it
// by that key; each instance is a new Vca handed out as its IMpPlugin2 view.
#pragma once

#include <cstdint>
#include <type_traits>

#include "factory/factory_singleton.h"
#include "interfaces/mp_unknown.h"
#include "interfaces/plugin_interfaces.h"

namespace kvx {

// The factory's creator of `Module`: a new instance as IMpUnknown (its IMpPlugin2 view),
// holding one reference. Throws what the constructor throws (out of memory, pin registration).
template <typename Module>
IMpUnknown* createModule() {
    return static_cast<IMpPlugin2*>(new Module());
}

// A static object of this type registers createModule<Module> under (subtype, id) while the
// library loads; the first registration of a key wins.
template <typename Module>
struct RegisteredModule : ModuleRegistration {
    static_assert(std::is_base_of_v<IMpPlugin2, Module>, "a module class derives from kvx::MpBase2");

    RegisteredModule(int32_t subtype, const char16_t* id)
        : ModuleRegistration(subtype, id, &createModule<Module>) {}
};

}  // namespace kvx
