// IMpUnknown: the three operations every interface of the family starts with (slots 0..2).
//
// Calling convention: an interface pointer points at an object whose first word is the address
// of its table of operations; slot N is the N-th entry. Slot orders are append-only: never
// insert, remove or reorder an operation in any interface of this folder.
// Interfaces have no virtual destructor on purpose: it would take table slots. Objects are
// destroyed by their own release().
#pragma once

#include <cstdint>

#include "interfaces/interface_id.h"

namespace kvx {

class IMpUnknown {
public:
    // Slot 0. On a match writes the view to *out, adds a reference and returns RESULT_OK;
    // otherwise writes null and returns RESULT_UNSUPPORTED. Null iid or out: RESULT_FAIL.
    virtual int32_t queryInterface(const MpGuid* iid, void** out) noexcept = 0;
    // Slot 1. Returns the new reference count.
    virtual int32_t addRef() noexcept = 0;
    // Slot 2. Returns the new count; 0 means the object destroyed itself.
    virtual int32_t release() noexcept = 0;

protected:
    ~IMpUnknown() = default;
};

}  // namespace kvx
