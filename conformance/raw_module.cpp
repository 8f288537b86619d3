// SPDX-License-Identifier: MIT
// Raw library loading and instance creation.
#include "conformance/raw_module.h"

#include <dlfcn.h>

#include "host/plugin_library.h"

namespace kvx::conformance {

RawLibrary::RawLibrary(const std::string& path) {
    dlerror();
    dl = dlopen(host::loaderPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dl == nullptr) {
        const char* reason = dlerror();
        throw Failure("dlopen failed: " + std::string(reason ? reason : "unknown reason"));
    }
    entryPoint = reinterpret_cast<EntryFn>(dlsym(dl, "MP_GetFactory"));
    if (entryPoint == nullptr) {
        dlclose(dl);
        throw Failure("no MP_GetFactory export");
    }
    const int32_t result = entryPoint(&factoryObject);
    if (result != 0 || factoryObject == nullptr) {
        dlclose(dl);
        throw Failure("MP_GetFactory returned " + std::to_string(result) + " and no factory");
    }
    void* answer = nullptr;
    factory2 = rawQuery(factoryObject, iid::FACTORY2, &answer) == 0 && answer != nullptr;
    if (answer != nullptr) rawRelease(answer);
}

RawLibrary::~RawLibrary() {
    if (dl != nullptr) dlclose(dl);
}

RawInstance::RawInstance(const RawLibrary& library, const ModuleRef& module, RawHost& host, Creation how) {
    void* factory = library.factory();
    void* created = nullptr;
    int32_t result;
    const bool withHost = how == Creation::WithHost || !library.hasFactory2();
    if (withHost)
        result = slot<CreateWithHostFn>(factory, slots::FACTORY_CREATE_WITH_HOST)(
            factory, module.id.c_str(), module.subtype, host.unknown(), &created);
    else
        result = slot<CreateFn>(factory, slots::FACTORY_CREATE)(factory, module.id.c_str(), module.subtype,
                                                                &created);
    if (result != 0 || created == nullptr)
        throw Failure("the factory did not create the module (result " + std::to_string(result) + ")");
    if (rawQuery(created, iid::PLUGIN2, &view2) != 0 || view2 == nullptr) {
        rawRelease(created);
        throw Failure("the instance does not answer IMpPlugin2");
    }
    if (rawQuery(created, iid::PLUGIN, &view1) != 0 || view1 == nullptr) {
        rawRelease(view2);
        rawRelease(created);
        throw Failure("the instance does not answer IMpPlugin");
    }
    rawRelease(created);
    if (!withHost) slot<AttachFn>(view2, slots::PLUGIN2_ATTACH)(view2, host.unknown());
}

RawInstance::~RawInstance() {
    rawRelease(view1);
    rawRelease(view2);
}

int32_t RawInstance::bind(int32_t pin, float* buffer) const {
    return slot<BindFn>(view2, slots::PLUGIN2_BIND)(view2, pin, buffer);
}

void RawInstance::process(int32_t sampleCount, const void* events, bool throughFirstView) const {
    if (throughFirstView)
        slot<ProcessFn>(view1, slots::PLUGIN_PROCESS)(view1, sampleCount, events);
    else
        slot<ProcessFn>(view2, slots::PLUGIN2_PROCESS)(view2, sampleCount, events);
}

}  // namespace kvx::conformance
