// SPDX-License-Identifier: MIT
// Test paths, fixed at configure time.
#include "tests/support/test_paths.h"

namespace kvx::test {

std::string buildDir() { return KVX_BUILD_DIR; }
std::string adsrLibraryPath() { return buildDir() + "/ADSR.kvx"; }
std::string testModulePath(const std::string& name) {
    return std::string(KVX_TEST_MODULE_DIR) + "/" + name + ".kvx";
}

}  // namespace kvx::test
