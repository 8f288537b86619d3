// SPDX-License-Identifier: MIT
// The host's service interfaces, as modules of the family call them. A module obtains both in
// attachHost, releases IMpHostServices once when destroyed and never calls IMpHostAux.
// Results of these calls are ignored by modules. Slot orders are append-only.
//
// The tags (explained in mp_unknown.h) say where a module calls each slot from. Of slots 0..2 a
// module calls queryInterface inside its attachHost, and release once for each IMpHostServices
// reference it obtained: when attached again, and when it is destroyed by its last release.
#pragma once

#include <cstdint>

#include "interfaces/mp_unknown.h"

namespace kvx {

class IMpHostServices : public IMpUnknown {
public:
    // Slot 3. [audio thread, inside process] The value of an output control pin as of sample
    // `timestamp` of the current block.
    virtual int32_t sendPinValue(int32_t timestamp, int32_t pinId, int32_t size,
                                 const void* data) noexcept = 0;
    // Slot 4. [audio thread, inside process] An output audio pin is changing (1) or constant (0)
    // from sample `timestamp` on.
    virtual int32_t sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t streaming) noexcept = 0;
    // Slot 5. [audio thread, inside process] The module may sleep: the host need not call it
    // until it has an event for it.
    virtual int32_t requestSleep() noexcept = 0;
    // Slot 6. [never called] Not called by modules of this family; hosts answer
    // RESULT_UNSUPPORTED.
    virtual int32_t reservedSlot6() noexcept = 0;
    // Slot 7. [audio thread, inside process] The host writes how many samples the module still
    // runs before it may sleep.
    virtual int32_t getSleepCountdown(int32_t* samplesBeforeSleep) noexcept = 0;
    // Slot 8. [audio thread, inside process] The host writes the sample rate in samples per
    // second.
    virtual int32_t querySampleRate(float* sampleRate) noexcept = 0;

protected:
    ~IMpHostServices() = default;
};

// Obtained and kept by modules, never called or released by them.
class IMpHostAux : public IMpUnknown {
protected:
    ~IMpHostAux() = default;
};

}  // namespace kvx
