// SPDX-License-Identifier: MIT
// The interfaces a module instance implements: IMpPlugin (primary view, also its IMpUnknown),
// IMpPlugin2, IMpLegacyInitialization, and IoldSchoolInitialisation (no identifier, no
// IMpUnknown slots, not reachable through queryInterface).
//
// Lifecycle, as a host drives an instance:
//   create -> attachHost -> bindPinBuffer (every audio pin) -> openModule -> process* -> release
// A host MUST attach before the first process() and MUST bind every audio pin to a buffer at
// least as long as the largest block it will pass. Events in one list MUST be in non-decreasing
// timestamp order with timestamps in 0..sampleCount-1. One instance MUST NOT be called from two
// threads at once; the tags at each slot (explained in mp_unknown.h) say the rest. Slot orders
// are append-only: never insert, remove or reorder an operation.
#pragma once

#include <cstdint>

#include "interfaces/host_event.h"
#include "interfaces/mp_unknown.h"

namespace kvx {

// First-version plug-in interface. Its `process` and `customCall` (slots 5 and 6) are declared
// as processV1 / customCallV1 so that one class can implement both versions separately; on the
// wire they are the same operations as IMpPlugin2's.
class IMpPlugin : public IMpUnknown {
public:
    // Slot 3. [any thread, not concurrently with process] Always RESULT_OK.
    virtual int32_t openModule() noexcept = 0;
    // Slot 4. [any thread, not concurrently with process] Binds the host-owned sample buffer to
    // the pin; RESULT_FAIL for an unknown pin id. The buffer stays the host's.
    virtual int32_t bindPinBuffer(int32_t pinId, float* buffer) noexcept = 0;
    // Slot 5 (`process`). [audio thread] Runs one block; same as IMpPlugin2::process.
    // Real-time safe.
    virtual void processV1(int32_t sampleCount, const HostEvent* events) noexcept = 0;
    // Slot 6 (`customCall`). [any thread, not concurrently with process] Three uninterpreted
    // arguments; forwarded to IMpPlugin2::customCall.
    virtual int32_t customCallV1(intptr_t a, intptr_t b, void* c) noexcept = 0;

protected:
    ~IMpPlugin() = default;
};

// Second-version plug-in interface (extends IMpUnknown, not IMpPlugin).
class IMpPlugin2 : public IMpUnknown {
public:
    // Slot 3. [any thread, not concurrently with process; before the first process]
    // Obtains IMpHostAux, then IMpHostServices from `host`; returns the result of the
    // IMpHostServices query. Keeps no reference to `host` itself. A repeated attach releases
    // the services obtained before.
    virtual int32_t attachHost(IMpUnknown* host) noexcept = 0;
    // Slot 4. [any thread, not concurrently with process] Always RESULT_OK.
    virtual int32_t openModule() noexcept = 0;
    // Slot 5. [any thread, not concurrently with process] As IMpPlugin::bindPinBuffer.
    virtual int32_t bindPinBuffer(int32_t pinId, float* buffer) noexcept = 0;
    // Slot 6. [audio thread] Runs `sampleCount` samples, applying each event at its timestamp.
    // `events` may be null; the module reads the records only during this call. Real-time safe:
    // no allocation, no lock, no system call.
    virtual void process(int32_t sampleCount, const HostEvent* events) noexcept = 0;
    // Slot 7. [any thread, not concurrently with process] Three uninterpreted arguments;
    // forwarded once to IMpPlugin's customCall.
    virtual int32_t customCall(intptr_t a, intptr_t b, void* c) noexcept = 0;

protected:
    ~IMpPlugin2() = default;
};

class IMpLegacyInitialization : public IMpUnknown {
public:
    // Slot 3. [any thread, not concurrently with process; before the first process]
    // As IMpPlugin2::attachHost.
    virtual int32_t attachHost(IMpUnknown* host) noexcept = 0;

protected:
    ~IMpLegacyInitialization() = default;
};

}  // namespace kvx

// The oldest initialisation view: one slot, no identifier, outside the family namespace.
class IoldSchoolInitialisation {
public:
    // Slot 0. [any thread, not concurrently with process; before the first process]
    // As IMpPlugin2::attachHost.
    virtual int32_t attachHost(kvx::IMpUnknown* host) noexcept = 0;

protected:
    ~IoldSchoolInitialisation() = default;
};
