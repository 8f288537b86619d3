// SPDX-License-Identifier: MIT
// One whole render: loads the library, drives a described module (or the envelope "KV ADSR4")
// through the host library as a host would, writes its outputs as audio (WAV), data (CSV) and a
// figure (PNG/SVG), and reports what happened.
#pragma once

#include <ostream>

#include "render/options.h"

namespace kvx::render {

// Renders what `options` asks for and prints the settings and the summary to `out`. Returns
// the exit status (0). Throws RenderError for wrong input (a malformed description included),
// host::HostError when the library cannot be loaded or lacks the module,
// std::filesystem::filesystem_error for file trouble; outputs appear only when everything
// succeeded ("-" as an output name: on standard output, after everything succeeded).
int run(RenderOptions options, std::ostream& out);

}  // namespace kvx::render
