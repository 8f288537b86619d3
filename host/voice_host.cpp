// SPDX-License-Identifier: MIT
// VoiceHost: the host services of one pooled voice.
#include "host/voice_host.h"

#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"

namespace kvx::host {

int32_t VoiceHost::queryInterface(const MpGuid* iid, void** out) noexcept {
    if (iid == nullptr || out == nullptr) return RESULT_FAIL;
    if (sameGuid(*iid, IID_MP_HOST_SERVICES) || sameGuid(*iid, IID_MP_UNKNOWN)) {
        *out = static_cast<IMpHostServices*>(this);
    } else if (sameGuid(*iid, IID_MP_HOST_AUX)) {
        *out = static_cast<IMpHostAux*>(this);
    } else {
        *out = nullptr;
        return RESULT_UNSUPPORTED;
    }
    addRef();
    return RESULT_OK;
}

int32_t VoiceHost::sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t streaming) noexcept {
    if (pinId == outputPin) {
        reportTimestamp = timestamp;
        report = streaming != 0 ? Report::Streaming : Report::Constant;
        reportedThisCall = true;
    }
    return RESULT_OK;
}

int32_t VoiceHost::reservedSlot6() noexcept { return RESULT_UNSUPPORTED; }

int32_t VoiceHost::getSleepCountdown(int32_t* samplesBeforeSleep) noexcept {
    if (samplesBeforeSleep != nullptr) *samplesBeforeSleep = countdown;
    return RESULT_OK;
}

int32_t VoiceHost::querySampleRate(float* rate) noexcept {
    if (rate != nullptr) *rate = sampleRate;
    return RESULT_OK;
}

}  // namespace kvx::host
