// SPDX-License-Identifier: MIT
// PatchModuleHost: the host services of one patch module.
#include "host/patch_module_host.h"

#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"

namespace kvx::host {

void ModuleOutput::addChange(int32_t time, bool streaming) noexcept {
    if (changeCount == changeCapacity) {
        ++merged;
        changes[changeCount - 1] = StreamChange{time, streaming};
        return;
    }
    changes[changeCount++] = StreamChange{time, streaming};
}

int32_t PatchModuleHost::queryInterface(const MpGuid* iid, void** out) noexcept {
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

int32_t PatchModuleHost::sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t streaming) noexcept {
    for (int32_t i = 0; i < outputCount; ++i) {
        ModuleOutput& output = outputs[i];
        if (output.pin != pinId) continue;
        const StreamReport report{timestamp, streaming != 0};
        if (output.reportCount == output.reportCapacity) {
            ++output.merged;
            output.reports[output.reportCount - 1] = report;
        } else {
            output.reports[output.reportCount++] = report;
        }
        break;
    }
    return RESULT_OK;
}

int32_t PatchModuleHost::reservedSlot6() noexcept { return RESULT_UNSUPPORTED; }

int32_t PatchModuleHost::getSleepCountdown(int32_t* samplesBeforeSleep) noexcept {
    if (samplesBeforeSleep != nullptr) *samplesBeforeSleep = countdown;
    return RESULT_OK;
}

int32_t PatchModuleHost::querySampleRate(float* rate) noexcept {
    if (rate != nullptr) *rate = sampleRate;
    return RESULT_OK;
}

}  // namespace kvx::host
