// Raw library loading, instance creation and pin discovery.
#include "tools/validate_module.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace kvx::validate {

RawLibrary::RawLibrary(const std::string& path) {
    dlerror();
    dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dl == nullptr) {
        const char* reason = dlerror();
        throw CheckFailure("dlopen failed: " + std::string(reason ? reason : "unknown reason"));
    }
    entryPoint = reinterpret_cast<EntryFn>(dlsym(dl, "MP_GetFactory"));
    if (entryPoint == nullptr) {
        dlclose(dl);
        throw CheckFailure("no MP_GetFactory export");
    }
    const int32_t result = entryPoint(&factoryObject);
    if (result != 0 || factoryObject == nullptr) {
        dlclose(dl);
        throw CheckFailure("MP_GetFactory returned " + std::to_string(result) + " and no factory");
    }
    void* answer = nullptr;
    factory2 = rawQuery(factoryObject, iid::FACTORY2, &answer) == 0 && answer != nullptr;
    if (answer != nullptr) rawRelease(answer);
}

RawLibrary::~RawLibrary() {
    if (dl != nullptr) dlclose(dl);
}

RawInstance::RawInstance(const RawLibrary& library, const Context& context, RawHost& host, Creation how) {
    void* factory = library.factory();
    void* created = nullptr;
    int32_t result;
    const bool withHost = how == Creation::WithHost || !library.hasFactory2();
    if (withHost)
        result = slot<CreateWithHostFn>(factory, slots::FACTORY_CREATE_WITH_HOST)(factory, context.id.c_str(),
                                                                                   context.subtype, host.unknown(), &created);
    else
        result = slot<CreateFn>(factory, slots::FACTORY_CREATE)(factory, context.id.c_str(), context.subtype, &created);
    if (result != 0 || created == nullptr)
        throw CheckFailure("the factory did not create the module (result " + std::to_string(result) + ")");
    if (rawQuery(created, iid::PLUGIN2, &view2) != 0 || view2 == nullptr) {
        rawRelease(created);
        throw CheckFailure("the instance does not answer IMpPlugin2");
    }
    if (rawQuery(created, iid::PLUGIN, &view1) != 0 || view1 == nullptr) {
        rawRelease(view2);
        rawRelease(created);
        throw CheckFailure("the instance does not answer IMpPlugin");
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

std::vector<int32_t> probePins(const RawInstance& instance, int32_t limit) {
    // Probing binds this buffer; callers rebind real buffers before processing.
    static float probeBuffer[8192];
    std::vector<int32_t> found;
    for (int32_t pin = 0; pin < limit; ++pin)
        if (instance.bind(pin, probeBuffer) == 0) found.push_back(pin);
    return found;
}

namespace {
float fromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
}  // namespace

float unwrittenSample() { return fromBits(0x7FC0DEADu); }
float guardSample() { return fromBits(0x7FC0FEEDu); }
bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

GuardedBuffer::GuardedBuffer(size_t capacity) : samples(capacity), storage(capacity + 2 * GUARD, 0.0f) { armGuards(); }

void GuardedBuffer::armGuards() {
    std::fill(storage.begin(), storage.begin() + GUARD, guardSample());
    std::fill(storage.end() - GUARD, storage.end(), guardSample());
}

int64_t GuardedBuffer::firstGuardHit() const {
    for (size_t i = 0; i < GUARD; ++i)
        if (!sameBits(storage[i], guardSample())) return static_cast<int64_t>(i) - static_cast<int64_t>(GUARD);
    for (size_t i = 0; i < GUARD; ++i)
        if (!sameBits(storage[GUARD + samples + i], guardSample())) return static_cast<int64_t>(samples + i);
    return 0;
}

ModuleShape discoverShape(const RawLibrary& library, const Context& context) {
    ModuleShape shape;
    RawHost host;
    RawInstance instance(library, context, host);
    shape.pins = probePins(instance);
    constexpr int32_t BLOCK = 64;
    std::vector<GuardedBuffer> buffers;
    buffers.reserve(shape.pins.size());
    for (int32_t pin : shape.pins) {
        buffers.emplace_back(BLOCK);
        std::fill(buffers.back().data(), buffers.back().data() + BLOCK, unwrittenSample());
        instance.bind(pin, buffers.back().data());
    }
    // Graph start, then a zero value for every pin at sample 0: output pins report their state.
    std::vector<RawEvent> events;
    events.push_back(makeEvent(0, event::GRAPH_BEGIN, -1));
    const float zero = 0.0f;
    for (int32_t pin : shape.pins) events.push_back(makeEvent(0, event::PIN_VALUE, pin, 4, &zero, 4));
    for (size_t i = 0; i + 1 < events.size(); ++i) events[i].setPointer(event::NEXT, events[i + 1].bytes);
    host.beginBlock();
    instance.process(BLOCK, events.front().bytes);
    for (size_t k = 0; k < shape.pins.size(); ++k) {
        const int32_t pin = shape.pins[k];
        bool output = false;
        for (size_t r = 0; r < host.reportCount; ++r) output |= host.reports[r].pin == pin;
        for (int32_t i = 0; i < BLOCK; ++i) output |= !sameBits(buffers[k].data()[i], unwrittenSample());
        (output ? shape.outputs : shape.inputs).push_back(pin);
    }
    return shape;
}

std::string describeIds(const std::vector<int32_t>& ids) {
    std::string text;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (!text.empty()) text += ",";
        size_t j = i;
        while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1) ++j;
        text += std::to_string(ids[i]);
        if (j > i) text += "-" + std::to_string(ids[j]);
        i = j;
    }
    return text.empty() ? "none" : text;
}

}  // namespace kvx::validate
