// SPDX-License-Identifier: MIT
// A patch as read from NAME.kvxpatch.json: the host::PatchGraph the engine runs, and what the
// tools need besides — each module's description, the patch's controls, how notes reach it, and
// the names of modules and pins for messages. The format is schema/kvx-patch-1.schema.json and
// docs/patches.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "describe/description.h"
#include "host/patch_graph.h"

namespace kvx::patch {

// One pin of one module instance: an index into PatchFile::modules (and graph.modules) and a pin id.
struct PinRef {
    int32_t module = 0;
    int32_t pin = 0;

    friend bool operator==(const PinRef&, const PinRef&) = default;
};

// What the patch knows of a module instance beyond its PatchModule.
struct ModuleInfo {
    describe::ModuleDescription description;
    std::string descriptionSource;  // the description file, or the name of a built-in one
};

// A name a person sets ("attack") that drives one or more module inputs with one user value.
// `range` describes the control as a pin would be: its datatype (bool, or float for numbers),
// unit, minimum, maximum, default and scale; each pin receives the value through its own mapping.
struct Control {
    std::string name;
    std::vector<PinRef> pins;
    describe::PinDescription range;
};

// Which inputs a note drives: gates are true (1) while the note is held, triggers become true at
// its start, pitches receive its frequency in the pin's unit, velocities its velocity (0 to 1).
struct NoteMapping {
    std::vector<PinRef> gate;
    std::vector<PinRef> trigger;
    std::vector<PinRef> pitch;
    std::vector<PinRef> velocity;
    double bendRange = 2.0;  // semitones each way of a full pitch bend

    bool empty() const { return gate.empty() && trigger.empty() && pitch.empty() && velocity.empty(); }
};

// A named setting of some of the controls.
struct Preset {
    struct Value {
        size_t control = 0;  // index into PatchFile::controls
        double user = 0.0;   // in the control's unit
    };
    std::string name;
    std::vector<Value> values;
};

struct PatchFile {
    host::PatchGraph graph;
    std::string name;                 // the patch's own "name", or its file name without .kvxpatch.json
    std::vector<ModuleInfo> modules;  // one per graph.modules, in the same order
    std::vector<Control> controls;
    NoteMapping notes;
    int32_t voices = 1;
    std::vector<Preset> presets;
    // The audio signal inputs nothing in the file drives (no connection, value, control or
    // note): the patch's own audio inputs, which a host may feed (kvx lv2's effect plug-in,
    // kvx render --input), in module and pin order. Unfed, each holds its described default.
    std::vector<PinRef> inputs;

    // The described pin `ref` names.
    const describe::PinDescription& pin(const PinRef& ref) const;
    // "env.attack": how the file writes `ref`.
    std::string pinName(const PinRef& ref) const;
    // The control called `name` ('-' may stand for '_'), or null.
    const Control* control(std::string_view name) const;
};

}  // namespace kvx::patch
