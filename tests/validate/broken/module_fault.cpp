// SPDX-License-Identifier: MIT
// Broken modules: the envelope with one rule of the contract broken, chosen when the library is
// built (KVX_FAULT_<NAME>, one library per fault, named broken_<name>):
//   nan_output          writes NaN where its streaming output would be above 0.999
//   fp_state            leaves flush-to-zero switched on after process
//   negative_blocks     writes its output's first sample for a negative sample count
//   zero_length         writes its output's first sample in a 0-sample block
//   null_first_events   crashes when its very first block comes without an event list
//   views_disagree      processes through IMpPlugin a hair louder than through IMpPlugin2
//   custom_call_counts  answers customCall with a count of its calls
//   answers_near_miss   answers IMpPlugin2 with its last byte changed
//   binds_negative_pin  accepts a buffer for a negative pin id
//   hides_refusal       reports success from attachHost although the host refused its services
//   unknown_pin_nan     writes NaN when an event names a pin it does not have
//   writes_event_bytes  changes the value bytes behind an event's data pointer
//   traps_on_nan        crashes on a NaN value event
//   huge_to_infinity    writes infinity when an event's value is huge
//   unsorted_to_nan     writes NaN when two events within the block come out of time order
//   stray_past_block    writes one sample past the block when an event lies past it
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "broken/broken_module.h"
#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"
#include "modules/adsr/adsr_pins.h"

namespace {

using kvx::HostEvent;

[[maybe_unused]] float eventValue(const HostEvent& e) {
    float value = 0.0f;
    std::memcpy(&value, e.inlineValue, sizeof value);
    return value;
}

class Broken : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const HostEvent* events) noexcept override {
        float* out = kvx::adsr::AdsrTestAccess::output(*this).boundBuffer();
#if defined(KVX_FAULT_NEGATIVE_BLOCKS)
        if (sampleCount < 0 && out != nullptr) out[0] = 0.5f;
#endif
#if defined(KVX_FAULT_NULL_FIRST_EVENTS)
        if (first && events == nullptr) __builtin_trap();
        first = false;
#endif
#if defined(KVX_FAULT_TRAPS_ON_NAN)
        for (const HostEvent* e = events; e != nullptr; e = e->next)
            if (e->type == kvx::EV_PIN_VALUE && e->size == 4 && std::isnan(eventValue(*e))) __builtin_trap();
#endif
        Adsr::process(sampleCount, events);
        if (out == nullptr) return;
#if defined(KVX_FAULT_NAN_OUTPUT)
        if (kvx::adsr::AdsrTestAccess::output(*this).isStreaming())
            for (int32_t i = 0; i < sampleCount; ++i)
                if (out[i] > 0.999f) out[i] = std::nanf("7");
#endif
#if defined(KVX_FAULT_FP_STATE) && defined(__SSE2__)
        _mm_setcsr(_mm_getcsr() | 0x8000);
#endif
#if defined(KVX_FAULT_ZERO_LENGTH)
        if (sampleCount == 0) out[0] = 0.5f;
#endif
#if defined(KVX_FAULT_WRITES_EVENT_BYTES)
        for (const HostEvent* e = events; e != nullptr; e = e->next)
            if (e->type == kvx::EV_PIN_VALUE && e->size > 8 && e->data != nullptr)
                const_cast<uint8_t*>(static_cast<const uint8_t*>(e->data))[0] = 0x5A;
#endif
#if defined(KVX_FAULT_UNKNOWN_PIN_NAN)
        for (const HostEvent* e = events; e != nullptr; e = e->next)
            if (e->type == kvx::EV_PIN_VALUE && (e->pinId < 0 || e->pinId >= kvx::adsr::PIN_COUNT) &&
                sampleCount > 0)
                out[0] = std::nanf("7");
#endif
#if defined(KVX_FAULT_HUGE_TO_INFINITY)
        for (const HostEvent* e = events; e != nullptr; e = e->next)
            if (e->type == kvx::EV_PIN_VALUE && e->size == 4 && std::isfinite(eventValue(*e)) &&
                std::fabs(eventValue(*e)) > 1e30f && sampleCount > 0)
                out[0] = INFINITY;
#endif
#if defined(KVX_FAULT_UNSORTED_TO_NAN)
        for (const HostEvent* e = events; e != nullptr && e->next != nullptr; e = e->next)
            if (e->next->timestamp < e->timestamp && e->next->timestamp >= 0 && e->timestamp < sampleCount)
                out[0] = std::nanf("7");
#endif
#if defined(KVX_FAULT_STRAY_PAST_BLOCK)
        for (const HostEvent* e = events; e != nullptr; e = e->next)
            if (e->timestamp >= sampleCount && sampleCount > 0) out[sampleCount] = 0.0f;
#endif
    }

#if defined(KVX_FAULT_VIEWS_DISAGREE)
    void processV1(int32_t sampleCount, const HostEvent* events) noexcept override {
        Adsr::processV1(sampleCount, events);
        float* out = kvx::adsr::AdsrTestAccess::output(*this).boundBuffer();
        if (out != nullptr && sampleCount > 0) out[0] *= 1.0f + 1e-6f;
    }
#endif
#if defined(KVX_FAULT_CUSTOM_CALL_COUNTS)
    int32_t customCall(intptr_t, intptr_t, void*) noexcept override { return ++calls; }
    int32_t calls = 0;
#endif
#if defined(KVX_FAULT_ANSWERS_NEAR_MISS)
    int32_t queryInterface(const kvx::MpGuid* iid, void** out) noexcept override {
        kvx::MpGuid nearMiss = kvx::IID_MP_PLUGIN2;
        nearMiss.data4[7] ^= 0x80;
        if (iid != nullptr && out != nullptr && kvx::sameGuid(*iid, nearMiss))
            return Adsr::queryInterface(&kvx::IID_MP_PLUGIN2, out);
        return Adsr::queryInterface(iid, out);
    }
#endif
#if defined(KVX_FAULT_BINDS_NEGATIVE_PIN)
    int32_t bindPinBuffer(int32_t pinId, float* buffer) noexcept override {
        const int32_t result = Adsr::bindPinBuffer(pinId, buffer);
        return pinId < 0 ? kvx::RESULT_OK : result;
    }
#endif
#if defined(KVX_FAULT_HIDES_REFUSAL)
    int32_t attachHost(kvx::IMpUnknown* host) noexcept override {
        Adsr::attachHost(host);
        return kvx::RESULT_OK;
    }
#endif

#if defined(KVX_FAULT_NULL_FIRST_EVENTS)
private:
    bool first = true;
#endif
};

}  // namespace

KVX_REGISTER_BROKEN_MODULE(Broken)
