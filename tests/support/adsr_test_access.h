// SPDX-License-Identifier: MIT
// AdsrTestAccess: the one way tests and benchmarks look inside the envelope: its output pin, and
// where what a block of a moving segment touches lies in the object (the layout the many-voice
// cost depends on, held by the benchmarks' guards).
#pragma once

#include <cstddef>
#include <vector>

#include "interfaces/plugin_interfaces.h"
#include "modules/adsr/adsr.h"
#include "tests/support/mp_test_access.h"

namespace kvx::adsr {

struct AdsrTestAccess {
    using Field = MpTestAccess::Field;

    static AudioOutPin& output(Adsr& module) { return module.output; }

    // The object's first byte: its primary view, the one interface lookups hand out.
    static const void* start(const Adsr& module) { return static_cast<const IMpPlugin*>(&module); }

    // What generateEnvelope itself touches on a moving segment: the output's buffer pointer and
    // the running segment, declared together so that they can share one cache line.
    static std::vector<Field> generatorFields(const Adsr& module) {
        const void* at = start(module);
        return {MpTestAccess::bufferField(at, module.output), MpTestAccess::field(at, module.level),
                MpTestAccess::field(at, module.coefficient),  MpTestAccess::field(at, module.asymptote),
                MpTestAccess::field(at, module.threshold),    MpTestAccess::field(at, module.stepsLeft)};
    }

    // Everything a block of a moving segment reads or writes in the object: the view process()
    // is called through, the base's routine and block position, then generatorFields.
    static std::vector<Field> movingBlockFields(const Adsr& module) {
        const void* at = start(module);
        const auto* view2 = reinterpret_cast<const char*>(static_cast<const IMpPlugin2*>(&module));
        std::vector<Field> fields{{static_cast<size_t>(view2 - static_cast<const char*>(at)), sizeof(void*)}};
        for (const Field& field : MpTestAccess::blockFields(at, module)) fields.push_back(field);
        for (const Field& field : generatorFields(module)) fields.push_back(field);
        return fields;
    }
};

}  // namespace kvx::adsr
