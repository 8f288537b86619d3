// SPDX-License-Identifier: MIT
// A module library and its instances, driven through raw slots only: loading, creation, the
// instance's views and attachment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conformance/raw_abi.h"
#include "conformance/raw_host.h"
#include "validate/context.h"

namespace kvx::validate {

// The validator is a host built on the conformance kit: its raw slots, raw host, buffers and monitors.
using namespace kvx::conformance;

class RawLibrary {
public:
    // dlopen and MP_GetFactory; throws CheckFailure with the loader's reason.
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
    // Throws CheckFailure when the factory refuses or a view is missing.
    RawInstance(const RawLibrary& library, const Context& context, RawHost& host,
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

}  // namespace kvx::validate
