// SPDX-License-Identifier: MIT
// Reads the names a shared library defines in its dynamic symbol table, straight from the ELF
// file (64-bit little-endian), the way the loader sees its exports.
#pragma once

#include <string>
#include <vector>

namespace kvx::conformance {

struct ElfExports {
    std::vector<std::string> defined;  // global or weak symbols with a definition
    std::string error;                 // set when the file could not be read as ELF
};

ElfExports readElfExports(const std::string& path);

}  // namespace kvx::conformance
