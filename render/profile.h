// SPDX-License-Identifier: MIT
// ModuleProfile: what the render knows of a particular module beyond its description, asked for
// by module id and subtype. A module without a profile (the normal case) is rendered from its
// description alone; a profile refines that: its own default score, how long a render lasts when
// the score does not say, names for the parts of the output read from the host trace, CSV column
// names and the figure's title. Every answer may be "nothing special", and then the render does
// what it does for any described module.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "describe/description.h"
#include "render/module.h"
#include "render/plan.h"
#include "render/schedule.h"
#include "render/segments.h"

namespace kvx::render {

// A render length a profile derives when the score sets none.
struct DerivedLength {
    int64_t samples;
    std::string rule;  // how, for the report: "last event + release"
};

class ModuleProfile {
public:
    virtual ~ModuleProfile() = default;

    // The score rendered when none is given, as score text; nullptr: every input at its
    // description's default.
    virtual const char* defaultScore() const { return nullptr; }

    // The length of a render whose score sets none, from the resolved inputs and the last event's
    // sample; none: the longest input file, or a second after the last event.
    virtual std::optional<DerivedLength> derivedLength(const RenderModule& /*module*/,
                                                       const RenderPlan& /*plan*/,
                                                       int64_t /*lastEvent*/) const {
        return std::nullopt;
    }

    // The output's parts named from what the module reported (`marks`, in the order it made them)
    // against the events the host sent; none: the output has no named parts.
    virtual std::optional<SegmentLabels> segments(const RenderModule& /*module*/,
                                                  const std::vector<ScheduledEvent>& /*events*/,
                                                  const std::vector<StreamMark>& /*marks*/) const {
        return std::nullopt;
    }

    // The CSV's names of the output columns, one per output; empty: the outputs' symbols.
    virtual std::vector<std::string> outputColumns(const RenderModule& /*module*/) const { return {}; }

    // The figure's two title lines, given the session line's text ("48000 Hz, blocks of 64 ...");
    // none: the module's name and every setting, then its id and the session.
    virtual std::optional<std::pair<std::string, std::string>> figureTitles(
        const RenderModule& /*module*/, const RenderPlan& /*plan*/, const std::string& /*session*/) const {
        return std::nullopt;
    }
};

// The profile of module (id, subtype), or nullptr when the render knows nothing of it beyond its
// description. Profiles live as long as the program.
const ModuleProfile* profileFor(std::string_view id, int32_t subtype);

// The module a library without a description is rendered as: the one module whose description
// this tool carries built in (the envelope's, shipped beside ADSR.kvx).
const describe::ModuleDescription& builtInModule();

}  // namespace kvx::render
