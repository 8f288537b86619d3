// SPDX-License-Identifier: MIT
// MpPluginBase: reference counting, interface lookup, host attachment, pins and forwarding.
#include "plugin/mp_plugin_base.h"

#include <cstdint>
#include <new>
#include <stdexcept>

#include "interfaces/interface_ids.h"
#include "interfaces/pin_codes.h"
#include "interfaces/result_codes.h"
#include "plugin/mp_pin_base.h"

namespace kvx {

MpPluginBase::~MpPluginBase() {
    if (hostServices != nullptr) hostServices->release();
}

void* MpPluginBase::operator new(size_t size) {
    // The global operator new gives at least 16-byte alignment, so the next line boundary lies
    // 16 to 64 bytes further on: room for the address to free, stored just before the object.
    void* block = ::operator new(size + CACHE_LINE);
    const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + CACHE_LINE) & ~uintptr_t{CACHE_LINE - 1};
    static_cast<void**>(reinterpret_cast<void*>(start))[-1] = block;
    return reinterpret_cast<void*>(start);
}

void MpPluginBase::operator delete(void* object) noexcept {
    if (object != nullptr) ::operator delete(static_cast<void**>(object)[-1]);
}

int32_t MpPluginBase::queryInterface(const MpGuid* iid, void** out) noexcept {
    if (iid == nullptr || out == nullptr) return RESULT_FAIL;
    *out = nullptr;
    if (sameGuid(*iid, IID_MP_PLUGIN2)) {
        *out = static_cast<IMpPlugin2*>(this);
    } else if (sameGuid(*iid, IID_MP_PLUGIN) || sameGuid(*iid, IID_MP_UNKNOWN)) {
        *out = static_cast<IMpPlugin*>(this);
    } else if (sameGuid(*iid, IID_MP_LEGACY_INITIALIZATION)) {
        *out = static_cast<IMpLegacyInitialization*>(this);
    } else {
        return RESULT_UNSUPPORTED;
    }
    addRef();
    return RESULT_OK;
}

int32_t MpPluginBase::addRef() noexcept { return ++refCount; }

int32_t MpPluginBase::release() noexcept {
    if (--refCount != 0) return refCount;
    delete this;
    return 0;
}

int32_t MpPluginBase::attachHost(IMpUnknown* host) noexcept {
    if (host == nullptr) return RESULT_FAIL;
    // A repeated attach replaces the services; the reference to the earlier ones is returned.
    if (hostServices != nullptr) {
        hostServices->release();
        hostServices = nullptr;
    }
    host->queryInterface(&IID_MP_HOST_AUX, reinterpret_cast<void**>(&hostAux));
    return host->queryInterface(&IID_MP_HOST_SERVICES, reinterpret_cast<void**>(&hostServices));
}

int32_t MpPluginBase::bindPinBuffer(int32_t pinId, float* buffer) noexcept {
    MpPinBase* pin = findPin(pinId);
    if (pin == nullptr) return RESULT_FAIL;
    pin->bindBuffer(buffer);
    return RESULT_OK;
}

void MpPluginBase::processV1(int32_t sampleCount, const HostEvent* events) noexcept {
    static_cast<IMpPlugin2*>(this)->process(sampleCount, events);
}

int32_t MpPluginBase::customCallV1(intptr_t a, intptr_t b, void* c) noexcept {
    if (forwardingGuard) return RESULT_OK;
    forwardingGuard = true;
    int32_t result = static_cast<IMpPlugin2*>(this)->customCall(a, b, c);
    forwardingGuard = false;
    return result;
}

int32_t MpPluginBase::customCall(intptr_t a, intptr_t b, void* c) noexcept {
    if (forwardingGuard) return RESULT_OK;
    forwardingGuard = true;
    int32_t result = static_cast<IMpPlugin*>(this)->customCallV1(a, b, c);
    forwardingGuard = false;
    return result;
}

void MpPluginBase::handleGraphStart() noexcept {
    for (const PinRegistry::Entry entry : pins)
        if (entry.pin->pinDirection() == PIN_DIRECTION_OUT) entry.pin->sendInitialValue();
}

void MpPluginBase::registerPin(MpPinBase& pin, PinCallback callback) {
    const int32_t id = pins.add(pin);  // throws before anything changes
    pin.id = id;
    pin.plugin = this;
    pin.callback = callback;
    if (callback == nullptr && pin.pinDirection() == PIN_DIRECTION_IN) pin.callback = pin.defaultCallback();
}

void MpPluginBase::registerPin(MpPinBase& pin, int32_t expectedId, PinCallback callback) {
    if (pins.nextId() != expectedId) throw std::logic_error("pin registered out of the order of its id");
    registerPin(pin, callback);
}

float MpPluginBase::hostSampleRate() noexcept {
    float sampleRate = 0.0f;
    if (hostServices != nullptr) hostServices->querySampleRate(&sampleRate);
    return sampleRate;
}

int32_t MpPluginBase::hostSendPinValue(int32_t timestamp, int32_t pinId, int32_t size,
                                       const void* data) noexcept {
    if (hostServices == nullptr) return RESULT_FAIL;
    return hostServices->sendPinValue(timestamp, pinId, size, data);
}

void MpPluginBase::hostSendPinStreaming(int32_t timestamp, int32_t pinId, bool streaming) noexcept {
    if (hostServices != nullptr) hostServices->sendPinStreaming(timestamp, pinId, streaming ? 1 : 0);
}

void MpPluginBase::hostRequestSleep() noexcept {
    if (hostServices != nullptr) hostServices->requestSleep();
}

void MpPluginBase::handCountdownToHost() noexcept {
    if (hostServices != nullptr) hostServices->getSleepCountdown(sleepState.countdownForHost());
}

}  // namespace kvx
