// SPDX-License-Identifier: MIT
// kvx info and kvx validate of a patch (NAME.kvxpatch.json) rather than a module library.
#pragma once

#include <string>

namespace kvx::cli {

// Its modules in run order, its connections, outputs, controls, notes and audio inputs. Returns
// the exit status: 1 with the reader's one line for a patch that does not read.
int runPatchInfo(const std::string& path);

// The patch read against the descriptions, then each module's library against its description
// (it loads, creates the module, accepts every described pin). Returns 0 when all agree, else 1
// with one line per problem.
int runPatchValidate(const std::string& path);

}  // namespace kvx::cli
