// SPDX-License-Identifier: MIT
// Loading the built library as a host does: its export table, repeated load/unload, and the
// host library's errors for files that are not module libraries.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "host/host_error.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "tests/support/test_paths.h"

namespace {

std::string runCommand(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return output;
    char line[512];
    while (fgets(line, sizeof line, pipe.get())) output += line;
    return output;
}

TEST(ExportTable, OnlyMpGetFactoryIsDefined) {
    const std::string listing =
        runCommand("nm -D --defined-only '" + kvx::test::adsrLibraryPath() + "' 2>&1");
    std::set<std::string> names;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (!name.empty()) names.insert(name);
    }
    EXPECT_EQ(names, std::set<std::string>{"MP_GetFactory"}) << listing;
}

TEST(ExportTable, NeedsOnlyTheStandardLibrary) {
    const std::string listing = runCommand("readelf -d '" + kvx::test::adsrLibraryPath() + "' 2>&1");
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("(NEEDED)") == std::string::npos) continue;
        const bool standard =
            line.find("libstdc++") != std::string::npos || line.find("libm.") != std::string::npos ||
            line.find("libgcc_s") != std::string::npos || line.find("libc.") != std::string::npos ||
            line.find("libasan") != std::string::npos || line.find("libubsan") != std::string::npos ||
            line.find("libtsan") != std::string::npos;
        EXPECT_TRUE(standard) << line;
    }
}

// Every cycle runs the library's static initialisation (registration) and termination (factory
// teardown); the sanitizer and valgrind runs turn a leak here into a failure.
TEST(RepeatedLoading, LoadCreateUnloadManyTimes) {
    for (int cycle = 0; cycle < 200; ++cycle) {
        kvx::host::PluginLibrary library(kvx::test::adsrLibraryPath());
        kvx::host::PluginInstance instance(library, u"KV ADSR4", 0);
        ASSERT_EQ(library.buildInfo().version, 30800);
    }
    // The library really unloads: after the last close it is no longer mapped.
    void* probe = dlopen(kvx::test::adsrLibraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(probe, nullptr);
    if (probe) dlclose(probe);
}

TEST(LoadErrors, NameTheFileAndTheReason) {
    const std::string missing = "/nonexistent/Nothing.kvx";
    try {
        kvx::host::PluginLibrary library(missing);
        FAIL() << "loaded a missing file";
    } catch (const kvx::host::HostError& error) {
        EXPECT_NE(std::string(error.what()).find(missing), std::string::npos) << error.what();
    }
    const std::string text = ::testing::TempDir() + "not_a_library.kvx";
    std::ofstream(text) << "plain text\n";
    EXPECT_THROW(kvx::host::PluginLibrary{text}, kvx::host::HostError);
    // A real shared library without the entry point.
    try {
        kvx::host::PluginLibrary library("libm.so.6");
        FAIL() << "libm has no MP_GetFactory";
    } catch (const kvx::host::HostError& error) {
        EXPECT_NE(std::string(error.what()).find("MP_GetFactory"), std::string::npos) << error.what();
    }
}

TEST(LoadErrors, UnknownModuleIsRefusedWithItsName) {
    kvx::host::PluginLibrary library(kvx::test::adsrLibraryPath());
    try {
        kvx::host::PluginInstance instance(library, u"KV NOPE", 0);
        FAIL();
    } catch (const kvx::host::HostError& error) {
        EXPECT_NE(std::string(error.what()).find("KV NOPE"), std::string::npos) << error.what();
    }
}

}  // namespace
