// SPDX-License-Identifier: MIT
// HostServices: reference counting, the answers a module gets, and the trace.
#include "host/host_services.h"

#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"

namespace kvx::host {

HostServices::HostServices() { trace.reserve(4096); }

int32_t HostServices::queryInterface(const MpGuid* iid, void** out) noexcept {
    if (iid == nullptr || out == nullptr) return RESULT_FAIL;
    ++queries;
    *out = nullptr;
    if (sameGuid(*iid, IID_MP_HOST_SERVICES)) {
        if (!answerHostServices) return RESULT_UNSUPPORTED;
        *out = static_cast<IMpHostServices*>(this);
        ++servicesHandedOut;
    } else if (sameGuid(*iid, IID_MP_HOST_AUX)) {
        if (!answerHostAux) return RESULT_UNSUPPORTED;
        *out = static_cast<IMpHostAux*>(this);
        ++auxHandedOut;
    } else if (sameGuid(*iid, IID_MP_UNKNOWN)) {
        *out = static_cast<IMpHostServices*>(this);
    } else {
        return RESULT_UNSUPPORTED;
    }
    addRef();
    return RESULT_OK;
}

int32_t HostServices::addRef() noexcept { return ++refCount; }

int32_t HostServices::release() noexcept {
    ++releases;
    return --refCount;
}

void HostServices::record(HostCall call, int32_t timestamp, int32_t pinId, int32_t value) noexcept {
    if (recordTrace && trace.size() < trace.capacity())
        trace.push_back(TraceEntry{call, block, blockStart, timestamp, pinId, value});
}

int32_t HostServices::sendPinValue(int32_t timestamp, int32_t pinId, int32_t size, const void*) noexcept {
    record(HostCall::SendPinValue, timestamp, pinId, size);
    return RESULT_OK;
}

int32_t HostServices::sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t streaming) noexcept {
    record(HostCall::SendPinStreaming, timestamp, pinId, streaming);
    if (pinId >= 0 && pinId < MAX_TRACKED_PINS)
        pinStates[static_cast<size_t>(pinId)] = PinStreamState{true, streaming != 0, block, timestamp};
    return RESULT_OK;
}

int32_t HostServices::requestSleep() noexcept {
    record(HostCall::RequestSleep, 0, -1, 0);
    sleepRequested = true;
    return RESULT_OK;
}

int32_t HostServices::reservedSlot6() noexcept { return RESULT_UNSUPPORTED; }

int32_t HostServices::getSleepCountdown(int32_t* samplesBeforeSleep) noexcept {
    record(HostCall::GetSleepCountdown, 0, -1, sleepCountdown);
    if (samplesBeforeSleep != nullptr) *samplesBeforeSleep = sleepCountdown;
    return RESULT_OK;
}

int32_t HostServices::querySampleRate(float* rate) noexcept {
    record(HostCall::QuerySampleRate, 0, -1, 0);
    if (rate != nullptr) *rate = sampleRate;
    return RESULT_OK;
}

const HostServices::PinStreamState& HostServices::streamState(int32_t pinId) const {
    static const PinStreamState unknown{};
    if (pinId < 0 || pinId >= MAX_TRACKED_PINS) return unknown;
    return pinStates[static_cast<size_t>(pinId)];
}

}  // namespace kvx::host
