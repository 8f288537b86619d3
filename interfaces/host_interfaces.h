// The host's service interfaces, as modules of the family call them. A module obtains both in
// attachHost, releases IMpHostServices once when destroyed and never calls IMpHostAux.
// Results of these calls are ignored by modules. Slot orders are append-only.
#pragma once

#include <cstdint>

#include "interfaces/mp_unknown.h"

namespace kvx {

class IMpHostServices : public IMpUnknown {
public:
    // Slot 3. The value of an output control pin as of sample `timestamp` of the current block.
    virtual int32_t sendPinValue(int32_t timestamp, int32_t pinId, int32_t size,
                                 const void* data) noexcept = 0;
    // Slot 4. An output audio pin is changing (1) or constant (0) from sample `timestamp` on.
    virtual int32_t sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t streaming) noexcept = 0;
    // Slot 5. The module may sleep: the host need not call it until it has an event for it.
    virtual int32_t requestSleep() noexcept = 0;
    // Slot 6. Not called by modules of this family; hosts answer RESULT_UNSUPPORTED.
    virtual int32_t reservedSlot6() noexcept = 0;
    // Slot 7. The host writes how many samples the module still runs before it may sleep.
    virtual int32_t getSleepCountdown(int32_t* samplesBeforeSleep) noexcept = 0;
    // Slot 8. The host writes the sample rate in samples per second.
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
