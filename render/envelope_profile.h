// SPDX-License-Identifier: MIT
// What the render knows of the envelope "KV ADSR4" beyond its description: its built-in
// description, its parameter flags, its default score, a length that lets the release finish,
// its segments named from the host trace, its CSV table (level, gate, segment) and its figure's
// title. The one place in the render that knows the envelope module.
#pragma once

#include <array>
#include <string_view>

#include "describe/description.h"
#include "render/profile.h"

namespace kvx::render {

// The envelope's parameter flags (--attack 120ms is --set attack=120ms).
inline constexpr std::array<std::string_view, 7> ENVELOPE_FLAGS{
    "attack", "decay", "sustain", "release", "attack-curve", "decay-curve", "release-curve"};

// The envelope as this tool knows it without a description file (the description shipped beside
// ADSR.kvx, built in).
const describe::Description& builtInEnvelopeDescription();

// The envelope's default score as text, for --help and the README: 2 s long, one note on at 0
// and off at 1.2 s, and every parameter set.
const char* envelopeDefaultScore();

// The envelope's profile.
const ModuleProfile& envelopeProfile();
// True for the envelope's id and subtype.
bool isEnvelope(std::string_view id, int32_t subtype);

}  // namespace kvx::render
