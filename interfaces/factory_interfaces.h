// SPDX-License-Identifier: MIT
// IMpFactory and IMpFactory2: the object MP_GetFactory hands out. One object, one table:
// the same pointer answers IMpUnknown, IMpFactory and IMpFactory2. Slot orders are append-only.
//
// The factory lives from library load to unload and keeps no per-call state: every slot,
// slots 0..2 included (addRef and release do nothing and return 1), may be called from any
// thread, also concurrently, once the library is loaded.
#pragma once

#include <cstdint>

#include "interfaces/mp_unknown.h"

namespace kvx {

class IMpFactory : public IMpUnknown {
public:
    // Slot 3. [any thread, concurrently with other factory calls]
    // Creates module `id` (zero-terminated 16-bit string) of `subtype` and attaches it to
    // `host` (the host's IMpUnknown, must not be null). Writes the new instance, holding one
    // reference that the caller owns, to *out. RESULT_UNSUPPORTED when not registered,
    // RESULT_FAIL when creation failed or an argument is null; *out is null on failure.
    virtual int32_t createInstanceWithHost(const char16_t* id, int32_t subtype, IMpUnknown* host,
                                           void** out) noexcept = 0;
    // Slot 4. [any thread, concurrently with other factory calls]
    // Writes the build version to *version and the build text, zero-terminated, to
    // `text` (capacity in 16-bit units). A text that does not fit gives an empty string.
    // Always RESULT_OK.
    virtual int32_t getBuildInfo(int32_t* version, int32_t capacity, char16_t* text) noexcept = 0;

protected:
    ~IMpFactory() = default;
};

class IMpFactory2 : public IMpFactory {
public:
    // Slot 5. [any thread, concurrently with other factory calls]
    // As createInstanceWithHost without a host: the caller attaches it before process().
    virtual int32_t createInstance(const char16_t* id, int32_t subtype, void** out) noexcept = 0;

protected:
    ~IMpFactory2() = default;
};

}  // namespace kvx
