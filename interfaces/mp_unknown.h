// SPDX-License-Identifier: MIT
// IMpUnknown: the three operations every interface of the family starts with (slots 0..2).
//
// Calling convention: an interface pointer points at an object whose first word is the address
// of its table of operations; slot N is the N-th entry. Slot orders are append-only: never
// insert, remove or reorder an operation in any interface of this folder.
// Interfaces have no virtual destructor on purpose: it would take table slots. Objects are
// destroyed by their own release().
//
// Every slot in this folder carries a thread and state tag saying who may call it, and when:
//   [audio thread]      the thread that calls process() on the module instance concerned
//   [any thread]        any thread; the rest of the tag says what the call must not overlap
//   [inside process]    only from within that instance's process() call (host services)
//   [not concurrently with process]   never while process() runs on that instance
// Calls on one module instance never overlap: a host MUST NOT call an instance from two threads
// at once, and reference counts are plain integers, not atomics.
#pragma once

#include <cstdint>

#include "interfaces/interface_id.h"

namespace kvx {

class IMpUnknown {
public:
    // Slot 0. [any thread, not concurrently with process or another call on the object]
    // On a match writes the view to *out, adds a reference and returns RESULT_OK; otherwise
    // writes null and returns RESULT_UNSUPPORTED. Null iid or out: RESULT_FAIL.
    virtual int32_t queryInterface(const MpGuid* iid, void** out) noexcept = 0;
    // Slot 1. [any thread, not concurrently with process or another call on the object]
    // Returns the new reference count.
    virtual int32_t addRef() noexcept = 0;
    // Slot 2. [any thread, not concurrently with process or another call on the object]
    // Returns the new count; 0 means the object destroyed itself. The caller MUST NOT use the
    // pointer after the release that gave 0.
    virtual int32_t release() noexcept = 0;

protected:
    ~IMpUnknown() = default;
};

}  // namespace kvx
