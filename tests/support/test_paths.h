// SPDX-License-Identifier: MIT
// Where tests find the built module libraries and tools.
#pragma once

#include <string>

namespace kvx::test {

// The build tree's top folder (holds ADSR.kvx and the kvx tool).
std::string buildDir();
// build/ADSR.kvx
std::string adsrLibraryPath();
// Test-only module libraries, built into this folder.
std::string testModulePath(const std::string& name);

}  // namespace kvx::test
