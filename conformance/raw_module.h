// SPDX-License-Identifier: MIT
// A module library and its instances, driven through raw slots only: loading, creation, the
// instance's views and attachment.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "conformance/raw_abi.h"
#include "conformance/raw_host.h"

namespace kvx::conformance {

// The module a host drives: its library file, and the id and subtype its factory is asked for.
struct ModuleRef {
    std::string path;
    std::u16string id;
    int32_t subtype = 0;
};

// What the kit's raw hosts throw when a library or module cannot be driven at all (it does not
// load, the factory refuses, a view is missing); what() is the evidence.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class RawLibrary {
public:
    // dlopen and MP_GetFactory; throws Failure with the loader's reason.
    explicit RawLibrary(const std::string& path);
    ~RawLibrary();
    RawLibrary(const RawLibrary&) = delete;
    RawLibrary& operator=(const RawLibrary&) = delete;

    void* handle() const { return dl; }
    EntryFn entry() const { return entryPoint; }
    void* factory() const { return factoryObject; }  // the pointer MP_GetFactory wrote
    bool hasFactory2() const { return factory2; }

private:
    void* dl = nullptr;
    EntryFn entryPoint = nullptr;
    void* factoryObject = nullptr;
    bool factory2 = false;
};

enum class Creation {
    Plain,
    WithHost
};

// One instance, holding its IMpPlugin2 and IMpPlugin views (one reference each).
class RawInstance {
public:
    // Throws Failure when the factory refuses or a view is missing.
    RawInstance(const RawLibrary& library, const ModuleRef& module, RawHost& host,
                Creation how = Creation::Plain);
    ~RawInstance();
    RawInstance(const RawInstance&) = delete;
    RawInstance& operator=(const RawInstance&) = delete;

    void* plugin2() const { return view2; }
    void* plugin1() const { return view1; }
    int32_t bind(int32_t pin, float* buffer) const;
    void process(int32_t sampleCount, const void* events, bool throughFirstView = false) const;

private:
    void* view2 = nullptr;
    void* view1 = nullptr;
};

}  // namespace kvx::conformance
