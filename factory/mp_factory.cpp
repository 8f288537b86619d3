// SPDX-License-Identifier: MIT
// MpFactory: interface lookup, instance creation and build information. No exception leaves
// any of these operations.
#include "factory/mp_factory.h"

#include "factory/build_info.h"
#include "interfaces/interface_ids.h"
#include "interfaces/plugin_interfaces.h"
#include "interfaces/result_codes.h"

namespace kvx {

int32_t MpFactory::queryInterface(const MpGuid* iid, void** out) noexcept {
    if (iid == nullptr || out == nullptr) return RESULT_FAIL;
    *out = nullptr;
    if (sameGuid(*iid, IID_MP_FACTORY2) || sameGuid(*iid, IID_MP_FACTORY) || sameGuid(*iid, IID_MP_UNKNOWN)) {
        *out = static_cast<IMpFactory2*>(this);
        addRef();
        return RESULT_OK;
    }
    return RESULT_UNSUPPORTED;
}

int32_t MpFactory::createInstance(const char16_t* id, int32_t subtype, void** out) noexcept {
    if (id == nullptr || out == nullptr) return RESULT_FAIL;
    *out = nullptr;
    CreatorFunction creator = registry.find(subtype, id);
    if (creator == nullptr) return RESULT_UNSUPPORTED;
    try {
        *out = creator();
    } catch (...) {
        return RESULT_FAIL;
    }
    return RESULT_OK;
}

int32_t MpFactory::createInstanceWithHost(const char16_t* id, int32_t subtype, IMpUnknown* host,
                                          void** out) noexcept {
    if (id == nullptr || out == nullptr) return RESULT_FAIL;
    *out = nullptr;
    if (host == nullptr) return RESULT_FAIL;
    CreatorFunction creator = registry.find(subtype, id);
    if (creator == nullptr) return RESULT_UNSUPPORTED;
    IMpUnknown* instance = nullptr;
    try {
        instance = creator();
        // A run-time type check on our own class, not queryInterface: the count stays at 1.
        if (auto* legacy = dynamic_cast<IMpLegacyInitialization*>(instance)) legacy->attachHost(host);
    } catch (...) {
        if (instance != nullptr) instance->release();
        return RESULT_FAIL;
    }
    *out = instance;
    return RESULT_OK;
}

int32_t MpFactory::getBuildInfo(int32_t* version, int32_t capacity, char16_t* text) noexcept {
    if (version != nullptr) *version = BUILD_VERSION;
    if (text == nullptr || capacity <= 0) return RESULT_OK;
    if (capacity < BUILD_TEXT_CAPACITY) {
        text[0] = u'\0';  // an empty string rather than a cut-off text
        return RESULT_OK;
    }
    // "MS Compiler V" + decimal digits + " (Release)", composed without allocating.
    char16_t* cursor = text;
    for (const char16_t* part = u"MS Compiler V"; *part != u'\0'; ++part) *cursor++ = *part;
    char16_t digits[12];
    int count = 0;
    for (int32_t number = BUILD_COMPILER_VERSION; count == 0 || number > 0; number /= 10)
        digits[count++] = static_cast<char16_t>(u'0' + number % 10);
    while (count > 0) *cursor++ = digits[--count];
    for (const char16_t* part = u" (Release)"; *part != u'\0'; ++part) *cursor++ = *part;
    *cursor = u'\0';
    return RESULT_OK;
}

}  // namespace kvx
