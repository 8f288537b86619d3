// SPDX-License-Identifier: MIT
// MpPinBase: callback dispatch and sending values to the host.
#include "plugin/mp_pin_base.h"

namespace kvx {

void MpPinBase::notifyEvent(const HostEvent* event) noexcept {
    if (callback != nullptr) (plugin->*callback)(event);
}

int32_t MpPinBase::sendRawValue(int32_t size, const void* data, int32_t position) noexcept {
    return plugin->hostSendPinValue(resolvePosition(position), id, size, data);
}

}  // namespace kvx
