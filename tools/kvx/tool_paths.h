// SPDX-License-Identifier: MIT
// Where the tool finds things: the envelope library, the LV2 bridge, the validator's helper and the
// module path, relative to the tool's own location (a build tree keeps them beside the tool; an
// installed tool finds its module and helper folders from its bin folder), and the modules a
// person names by symbol or id.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "describe/module_listing.h"

namespace kvx::cli {

// ADSR.kvx in the tool's folder (a build tree), else in the installed module folder.
std::string defaultPluginPath();

// The LV2 bridge binary `kvx lv2` copies into bundles: lv2/ in the tool's folder (a build tree),
// else lv2/ in the installed module folder.
std::string lv2BridgePath();

// The validator's helper program kvx-validate: in the tool's folder (a build tree), else in the
// installed helper folder (<prefix>/<libexecdir>/kvx next to <prefix>/bin).
struct HelperProgram {
    std::string path;  // empty when neither place holds it
    std::string besideTool;
    std::string installed;
};
HelperProgram validateHelper();

// Folders searched for modules, in order: each entry of KVX_PATH (colon-separated),
// ~/.local/lib/kvx, the installed module folder (<prefix>/<libdir>/kvx next to <prefix>/bin),
// and the tool's own folder when it holds module descriptions (a build tree).
std::vector<describe::ModuleFolder> modulePath();

// A library named on the command line: a path as given, or a module's symbol or id found along
// the module path (then `id` and `subtype` name the module).
struct ModuleArgument {
    std::string library;
    std::string id;  // empty unless found along the module path
    int32_t subtype = 0;
};
ModuleArgument resolveModuleArgument(const std::string& text);

}  // namespace kvx::cli
