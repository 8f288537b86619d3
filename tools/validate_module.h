// A module library and its instances, driven through raw slots only: loading, creation, the
// instance's views, attachment, pin discovery by probing bindPinBuffer, and guarded buffers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/validate_raw_abi.h"
#include "tools/validate_raw_host.h"

namespace kvx::validate {

// What a check failed on, with the first evidence; thrown by helpers, caught per check.
struct CheckFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What every check knows: the library and module under test and the random-session settings.
struct Context {
    std::string path;
    std::u16string id;
    int32_t subtype = 0;
    int32_t seeds = 12;   // random sessions per randomised check
    uint64_t seed = 1;    // session k uses seed + k
};

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

enum class Creation { Plain, WithHost };

// One instance, holding its IMpPlugin2 and IMpPlugin views (one reference each).
class RawInstance {
public:
    // Throws CheckFailure when the factory refuses or a view is missing.
    RawInstance(const RawLibrary& library, const Context& context, RawHost& host, Creation how = Creation::Plain);
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

// Pin ids the instance accepts in bindPinBuffer, probed from 0 to `limit` - 1.
std::vector<int32_t> probePins(const RawInstance& instance, int32_t limit = 1024);

// A float buffer with guard zones on both sides; every float starts as a known bit pattern.
class GuardedBuffer {
public:
    static constexpr size_t GUARD = 64;
    explicit GuardedBuffer(size_t capacity = 0);
    float* data() { return storage.data() + GUARD; }
    size_t capacity() const { return samples; }
    // Writes the guard pattern into both guard zones.
    void armGuards();
    // The first guard index (negative: before the buffer) that lost its pattern, or 0 if none
    // (index 0 is inside the buffer, so it never names a guard).
    int64_t firstGuardHit() const;

private:
    size_t samples;
    std::vector<float> storage;
};

// Bit patterns: quiet NaNs with payloads a module will not produce by computation.
float unwrittenSample();  // what a host leaves in an output buffer before process
float guardSample();
bool sameBits(float a, float b);

// The pins of the module under test: all accepted ids, and the audio outputs among them
// (pins that report a streaming state, or whose buffer the module writes).
struct ModuleShape {
    std::vector<int32_t> pins;
    std::vector<int32_t> outputs;
    std::vector<int32_t> inputs;  // pins minus outputs
};
ModuleShape discoverShape(const RawLibrary& library, const Context& context);

std::string describeIds(const std::vector<int32_t>& ids);

}  // namespace kvx::validate
