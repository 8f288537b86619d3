// SPDX-License-Identifier: MIT
// kvx validate must pass our envelope and catch each deliberately broken library with the
// check written for its fault. Runs the built tool as a user would and reads its JSON report.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/test_paths.h"

namespace {

struct ValidateRun {
    int exitStatus = -1;
    std::string output;
    nlohmann::json report;
    std::map<std::string, nlohmann::json> checks;  // by id, e.g. "loading.exports"
};

ValidateRun runValidate(const std::string& library, const std::string& extra = "--seeds 3") {
    ValidateRun run;
    const std::string command =
        "'" + kvx::test::buildDir() + "/kvx' validate '" + library + "' --json " + extra + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, got);
    const int status = pclose(pipe);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.report = nlohmann::json::parse(run.output, nullptr, false);
    if (run.report.is_object() && run.report.contains("checks"))
        for (const auto& check : run.report["checks"]) run.checks[check["id"].get<std::string>()] = check;
    return run;
}

std::string statusOf(const ValidateRun& run, const std::string& id) {
    auto found = run.checks.find(id);
    return found == run.checks.end() ? "missing" : found->second["status"].get<std::string>();
}

std::string detailOf(const ValidateRun& run, const std::string& id) {
    auto found = run.checks.find(id);
    return found == run.checks.end() ? "" : found->second["detail"].get<std::string>();
}

TEST(ValidateEnvelope, PassesEveryCheck) {
    const ValidateRun run = runValidate(kvx::test::adsrLibraryPath());
    ASSERT_TRUE(run.report.is_object()) << run.output.substr(0, 2000);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_GE(run.checks.size(), 30u);
    int passed = 0;
    for (const auto& [id, check] : run.checks) {
        EXPECT_NE(check["status"], "FAIL") << id << ": " << check["detail"];
        passed += check["status"] == "PASS" ? 1 : 0;
    }
    EXPECT_GE(passed, 30);
    EXPECT_EQ(run.report["summary"]["valid"], true);
}

struct BrokenCase {
    const char* library;
    const char* check;     // the check written for this fault
    const char* evidence;  // a phrase the evidence must contain
};

void PrintTo(const BrokenCase& c, std::ostream* out) { *out << c.library << " -> " << c.check; }

class BrokenLibrary : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenLibrary, FailsTheCheckMeantForIt) {
    const BrokenCase& c = GetParam();
    const ValidateRun run =
        runValidate(kvx::test::testModulePath(c.library),
                    std::string(c.library) == "broken_hangs" ? "--seeds 3 --timeout 3" : "--seeds 3");
    ASSERT_TRUE(run.report.is_object()) << run.output.substr(0, 2000);
    const std::string status = statusOf(run, c.check);
    if (status == "SKIP" && detailOf(run, c.check).find("sanitizer") != std::string::npos)
        GTEST_SKIP() << c.check << " is not counted in sanitizer builds";
    EXPECT_EQ(status, "FAIL") << c.check << ": " << detailOf(run, c.check);
    EXPECT_NE(detailOf(run, c.check).find(c.evidence), std::string::npos) << detailOf(run, c.check);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.report["summary"]["valid"], false);
    // Every check still reports, whatever the module did to the others.
    EXPECT_EQ(run.checks.size(), runValidate(kvx::test::adsrLibraryPath(), "--seeds 1").checks.size());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BrokenLibrary,
    ::testing::Values(
        BrokenCase{"broken_extra_export", "loading.exports", "kvx_broken_extra_export"},
        BrokenCase{"broken_near_miss_id", "factory.unknown_modules", "blank appended"},
        BrokenCase{"broken_slot_order", "instance.view_slots", "IMpPlugin2"},
        BrokenCase{"broken_split_count", "instance.shared_count", "IMpLegacyInitialization"},
        BrokenCase{"broken_keeps_host_services", "instance.host_services_once", "released 0 times"},
        BrokenCase{"broken_writes_past_block", "processing.guard_zones", "past the block end"},
        BrokenCase{"broken_sleeps_while_streaming", "processing.no_sleep_while_streaming",
                   "declared streaming"},
        BrokenCase{"broken_drifts_while_constant", "processing.constant_while_declared", "declared constant"},
        BrokenCase{"broken_shared_dither", "processing.determinism", "output pin 9"},
        BrokenCase{"broken_events_at_block_start", "accuracy.block_partitions", "random blocks"},
        BrokenCase{"broken_hangs", "hostile.sample_rates", "did not finish"},
        BrokenCase{"broken_allocates", "realtime.no_heap", "heap"},
        BrokenCase{"broken_locks", "realtime.no_locks", "lock calls"},
        BrokenCase{"broken_denormal_output", "realtime.no_denormals", "subnormal"},
        BrokenCase{"broken_subnormal_after_tiny_input", "realtime.no_denormals", "tiny values: output pin 9"},
        BrokenCase{"broken_crashes", "hostile.unknown_types", "signal"},
        BrokenCase{"broken_sleeps_before_countdown", "processing.owed_samples_written", "left unwritten"},
        BrokenCase{"broken_sleeps_before_wrapped_countdown", "processing.owed_samples_written",
                   "left unwritten"},
        BrokenCase{"broken_stale_active_routine", "processing.owed_samples_written", "left unwritten"},
        BrokenCase{"broken_silent_graph_start", "processing.graph_start", "output pin 9"}),
    [](const ::testing::TestParamInfo<BrokenCase>& info) {
        return std::string(info.param.library).substr(7);
    });

// A crash is that check's failure: the checks after it in the same group still run and pass.
TEST(BrokenLibraryCrash, LaterChecksOfTheGroupStillRun) {
    const ValidateRun run = runValidate(kvx::test::testModulePath("broken_crashes"));
    ASSERT_TRUE(run.report.is_object());
    EXPECT_EQ(statusOf(run, "hostile.unknown_types"), "FAIL");
    EXPECT_EQ(statusOf(run, "hostile.unknown_pins"), "PASS") << detailOf(run, "hostile.unknown_pins");
    EXPECT_EQ(statusOf(run, "hostile.repeated_attach"), "PASS");
    EXPECT_EQ(statusOf(run, "loading.exports"), "PASS");
}

TEST(ValidateCommand, MissingFileFailsAtLoading) {
    const ValidateRun run = runValidate("/nonexistent/Nothing.kvx");
    ASSERT_TRUE(run.report.is_object());
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(statusOf(run, "loading.dlopen"), "FAIL");
    EXPECT_NE(detailOf(run, "loading.dlopen").find("Nothing.kvx"), std::string::npos)
        << detailOf(run, "loading.dlopen");
}

TEST(ValidateCommand, TextReportHasGroupsAndASummary) {
    const std::string command =
        "'" + kvx::test::buildDir() + "/kvx' validate '" + kvx::test::adsrLibraryPath() + "' --seeds 1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_TRUE(pipe);
    std::string text;
    char line[1024];
    while (fgets(line, sizeof line, pipe.get())) text += line;
    for (const char* group : {"\nloading\n", "\nfactory\n", "\ninstance\n", "\nprocessing\n", "\naccuracy\n",
                              "\nrealtime\n", "\nhostile\n"})
        EXPECT_NE(text.find(group), std::string::npos) << group;
    EXPECT_NE(text.find("PASS  loading.exports"), std::string::npos);
    EXPECT_NE(text.find("0 failed"), std::string::npos)
        << text.substr(text.size() > 300 ? text.size() - 300 : 0);
    EXPECT_NE(text.find("VALID"), std::string::npos);
}

}  // namespace
