// SPDX-License-Identifier: MIT
// Loading: the library loads, exports its entry point and nothing else, and survives being
// loaded and unloaded many times.
#include <dlfcn.h>

#include "host/plugin_library.h"

#include "conformance/elf_exports.h"
#include "validate/checks/support.h"

namespace kvx::validate {

namespace {

Outcome loads(const Context& context) {
    RawLibrary library(context.path);
    return pass(library.hasFactory2() ? "factory answers IMpFactory2" : "factory answers IMpFactory only");
}

Outcome exportsOnlyEntryPoint(const Context& context) {
    const ElfExports exports = readElfExports(context.path);
    if (!exports.error.empty()) return fail(exports.error);
    std::string others;
    bool entry = false;
    for (const std::string& name : exports.defined) {
        if (name == "MP_GetFactory")
            entry = true;
        else
            others += (others.empty() ? "" : ", ") + name;
    }
    if (!entry) return fail("MP_GetFactory is not defined in the dynamic symbol table");
    if (!others.empty()) return fail("also exports: " + others.substr(0, 300));
    return pass();
}

Outcome entryPoint(const Context& context) {
    RawLibrary library(context.path);
    void* first = nullptr;
    void* second = nullptr;
    const int32_t a = library.entry()(&first);
    const int32_t b = library.entry()(&second);
    if (a != 0 || b != 0)
        return fail("MP_GetFactory returned " + std::to_string(a) + " then " + std::to_string(b));
    if (first == nullptr || first != second) return fail("two calls gave different factory pointers");
    const int32_t null = library.entry()(nullptr);
    if (null == 0) return fail("MP_GetFactory(null) returned 0");
    return pass();
}

Outcome repeatedLoading(const Context& context) {
    constexpr int CYCLES = 40;
    for (int cycle = 0; cycle < CYCLES; ++cycle) {
        RawLibrary library(context.path);
        RawHost host;
        { RawInstance instance(library, context, host); }
        if (host.services.releases != host.services.handedOut)
            return fail("cycle " + std::to_string(cycle) + ": host services obtained " +
                        std::to_string(host.services.handedOut) + " times, released " +
                        std::to_string(host.services.releases) + " times");
    }
    void* still = dlopen(host::loaderPath(context.path).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (still != nullptr) {
        dlclose(still);
        return fail("the library stays mapped after its last dlclose (unique symbols or nodelete?)");
    }
    return pass(std::to_string(CYCLES) + " load/create/unload cycles");
}

}  // namespace

Group loadingChecks() {
    return {"loading",
            {{"dlopen", "loads with RTLD_NOW and hands out a factory", loads},
             {"exports", "the dynamic symbol table defines MP_GetFactory and nothing else",
              exportsOnlyEntryPoint},
             {"entry_point", "MP_GetFactory: same factory twice, refuses a null out-pointer", entryPoint},
             {"repeated_load", "load, create, release, unload many times; the library really unloads",
              repeatedLoading}}};
}

}  // namespace kvx::validate
