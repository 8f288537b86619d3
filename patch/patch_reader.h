// SPDX-License-Identifier: MIT
// Reads patch files (NAME.kvxpatch.json): JSON text in, a PatchFile whose every name is resolved
// and checked against the modules' descriptions out, or one line that names the file, the JSON
// path and the module or pin at fault.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "patch/module_source.h"
#include "patch/patch_file.h"

namespace kvx::patch {

// "FILE: $.connections[2].to: module 'vca' has no input 'gain' (its inputs: input, control, level)"
class PatchError : public std::runtime_error {
public:
    explicit PatchError(const std::string& message) : std::runtime_error(message) {}
};

// Parses and checks a patch: the format (what the schema says), every module found and
// described, every pin named there with the right datatype and direction, each input driven by
// one thing at most (a connection, a value, a control or a note), values within their range,
// and no loop of connections without a delay. A library path in the file is relative to the
// folder of `source`. Throws PatchError starting with `source`.
PatchFile parsePatch(std::string_view text, const std::string& source, ModuleSource& modules);

// Reads and parses a patch file. Throws PatchError naming `path`.
PatchFile loadPatch(const std::string& path, ModuleSource& modules);

// True for a file name the tools take for a patch: NAME.kvxpatch.json.
bool isPatchFileName(std::string_view path);

}  // namespace kvx::patch
