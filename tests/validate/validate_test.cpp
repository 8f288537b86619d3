// SPDX-License-Identifier: MIT
// kvx validate must pass our envelope and catch each deliberately broken library with the
// check written for its fault. Runs the built tool as a user would and reads its JSON report.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

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
    // The other checks the fault breaks too, each for a reason the row's comment gives; every
    // other check must pass. An entry "group." lets any check of that group fail.
    std::vector<std::string> also = {};
};

void PrintTo(const BrokenCase& c, std::ostream* out) { *out << c.library << " -> " << c.check; }

size_t checkCount() {
    static const size_t count = runValidate(kvx::test::adsrLibraryPath(), "--seeds 1").checks.size();
    return count;
}

class BrokenLibrary : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenLibrary, FailsTheCheckMeantForItAndOnlyTheChecksItShould) {
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
    for (const std::string& other : c.also)
        if (other.back() != '.') {
            EXPECT_EQ(statusOf(run, other), "FAIL")
                << other << " (listed as broken too): " << detailOf(run, other);
        }
    for (const auto& [id, check] : run.checks) {
        if (check["status"] != "FAIL" || id == c.check) continue;
        bool expected = false;
        for (const std::string& other : c.also)
            expected = expected || id == other || (other.back() == '.' && id.rfind(other, 0) == 0);
        EXPECT_TRUE(expected) << id << " fails too: " << check["detail"];
    }
    // Every check still reports, whatever the module did to the others.
    EXPECT_EQ(run.checks.size(), checkCount());
}

const std::vector<BrokenCase>& brokenCases() {
    static const std::vector<BrokenCase> cases{
        BrokenCase{"broken_extra_export", "loading.exports", "kvx_broken_extra_export"},
        BrokenCase{"broken_factory_1", "loading.entry_point", "MP_GetFactory(null) returned 0"},
        BrokenCase{"broken_factory_2", "factory.identities", "IMpFactory2: a different pointer"},
        BrokenCase{"broken_factory_3", "factory.refusals", "IMpFactory with its last byte changed"},
        BrokenCase{"broken_factory_4", "factory.counts", "release returned 0"},
        // The version is missing from every build-info answer, tight ones too.
        BrokenCase{"broken_factory_5",
                   "factory.build_info",
                   "the version was not written",
                   {"factory.build_info_tight"}},
        BrokenCase{"broken_factory_6", "factory.build_info_tight", "a cut-off text"},
        BrokenCase{"broken_factory_7", "factory.build_info_null", "a negative capacity wrote"},
        // An instance from createInstance keeps a reference nobody owns: it is never destroyed,
        // so neither its count nor the host services it holds come back down.
        BrokenCase{"broken_factory_8",
                   "factory.create",
                   "returned 3/2/1",
                   {"loading.repeated_load", "instance.views", "instance.shared_count",
                    "instance.host_services_once", "hostile.repeated_attach"}},
        BrokenCase{"broken_factory_9", "factory.null_arguments", "with a null host returned 0"},
        BrokenCase{"broken_near_miss_id", "factory.unknown_modules", "blank appended"},
        // Every call through the swapped slots reaches the wrong function: whatever attaches,
        // binds or processes may fail.
        BrokenCase{"broken_slot_order",
                   "instance.view_slots",
                   "IMpPlugin2",
                   {"factory.create_with_host", "instance.host_services_once", "instance.bind_range",
                    "processing.", "accuracy.", "realtime.", "hostile."}},
        // One count per view: the views and their destruction go wrong with it.
        BrokenCase{"broken_split_count",
                   "instance.shared_count",
                   "IMpLegacyInitialization",
                   {"instance.views", "instance.destroy_through_views"}},
        BrokenCase{"broken_answers_near_miss", "instance.refusals", "IMpPlugin2 with its last byte changed"},
        // Every check that counts the host's references sees the one never released.
        BrokenCase{"broken_keeps_host_services",
                   "instance.host_services_once",
                   "released 0 times",
                   {"loading.repeated_load", "factory.create_with_host", "instance.destroy_through_views",
                    "hostile.refused_aux", "hostile.repeated_attach"}},
        BrokenCase{"broken_binds_negative_pin", "instance.bind_range", "pin id -1: IMpPlugin2 gave 0"},
        BrokenCase{"broken_custom_call_counts", "instance.custom_call", "differ between views or calls"},
        // Its very first block: also the first block of the 0-sample and negative-count checks.
        BrokenCase{"broken_null_first_events",
                   "processing.null_events",
                   "crashed",
                   {"processing.zero_length", "hostile.negative_blocks"}},
        BrokenCase{"broken_zero_length", "processing.zero_length", "a 0-sample block wrote sample 0"},
        // Every check that watches for stray writes sees them.
        BrokenCase{"broken_writes_past_block",
                   "processing.guard_zones",
                   "past the block end",
                   {"processing.null_events", "processing.zero_length", "processing.sample_rates",
                    "processing.block_sizes", "hostile.out_of_order", "hostile.past_the_block",
                    "hostile.unknown_types", "hostile.unknown_pins", "hostile.value_sizes",
                    "hostile.non_finite_values", "hostile.huge_values", "hostile.countdowns",
                    "hostile.sample_rates"}},
        // Every check that requires finite output sees the NaN; where it lands depends on the
        // blocks (the output is streaming at a block's end), so partitions differ too.
        BrokenCase{
            "broken_nan_output",
            "processing.finite_output",
            "is nan",
            {"processing.sample_rates", "processing.block_sizes", "accuracy.block_partitions",
             "accuracy.event_edges", "hostile.out_of_order", "hostile.past_the_block", "hostile.unknown_pins",
             "hostile.huge_values", "hostile.countdowns", "hostile.sample_rates"}},
        // Sleeping while streaming loses samples the in-contract and countdown sessions compare.
        BrokenCase{"broken_sleeps_while_streaming",
                   "processing.no_sleep_while_streaming",
                   "declared streaming",
                   {"processing.sample_rates", "processing.block_sizes", "accuracy.lossless_sleep",
                    "accuracy.countdowns", "hostile.countdowns"}},
        // A host holds the declared value where the module drifts: held and written differ.
        BrokenCase{"broken_drifts_while_constant",
                   "processing.constant_while_declared",
                   "declared constant",
                   {"processing.sample_rates", "processing.block_sizes", "accuracy.block_partitions",
                    "accuracy.event_edges", "accuracy.countdowns"}},
        // Instances share their noise: no two renderings of one session agree.
        BrokenCase{"broken_shared_dither",
                   "processing.determinism",
                   "output pin 9",
                   {"processing.sample_rates", "processing.block_sizes", "processing.constant_while_declared",
                    "processing.views_agree", "accuracy.block_partitions", "accuracy.event_edges",
                    "accuracy.causality", "accuracy.lossless_sleep", "accuracy.countdowns",
                    "hostile.unknown_types"}},
        BrokenCase{"broken_views_disagree", "processing.views_agree", "IMpPlugin process differs"},
        // Events moved to the block's start: the graph start's report and the owed samples move too.
        BrokenCase{"broken_events_at_block_start",
                   "accuracy.block_partitions",
                   "random blocks",
                   {"processing.graph_start", "processing.owed_samples_written", "accuracy.event_edges"}},
        // One object for every creation: whatever holds two instances, or creates one after
        // releasing another, works on a shared or freed object.
        BrokenCase{"broken_one_instance",
                   "factory.create",
                   "the same object",
                   {"loading.repeated_load", "factory.create_with_host", "instance.", "processing.", "accuracy.",
                    "realtime.", "hostile."}},
        BrokenCase{"broken_build_info_one_short", "factory.build_info_tight", "capacity 27"},
        BrokenCase{"broken_hangs", "hostile.sample_rates", "did not finish"},
        BrokenCase{"broken_nan_at_rate_zero", "hostile.sample_rates", "sample rate 0.000000: "},
        BrokenCase{"broken_allocates", "realtime.no_heap", "heap"},
        BrokenCase{"broken_locks", "realtime.no_locks", "lock calls"},
        BrokenCase{"broken_denormal_output", "realtime.no_denormals", "subnormal"},
        BrokenCase{"broken_fp_state", "realtime.fp_state", "floating-point control state changed"},
        BrokenCase{"broken_subnormal_after_tiny_input", "realtime.no_denormals", "tiny values: output pin 9"},
        BrokenCase{"broken_crashes", "hostile.unknown_types", "signal"},
        // owed_samples_written renders out_of_order's sessions again.
        BrokenCase{
            "broken_unsorted_to_nan", "hostile.out_of_order", "is nan", {"processing.owed_samples_written"}},
        BrokenCase{"broken_stray_past_block", "hostile.past_the_block", "past the block end"},
        BrokenCase{"broken_unknown_pin_nan", "hostile.unknown_pins", "is nan"},
        BrokenCase{"broken_writes_event_bytes", "hostile.value_sizes", "wrote into an event's value bytes"},
        BrokenCase{"broken_traps_on_nan", "hostile.non_finite_values", "crashed"},
        BrokenCase{"broken_huge_to_infinity", "hostile.huge_values", "is inf"},
        BrokenCase{"broken_hides_refusal", "hostile.refused_services", "attachHost returned 0"},
        BrokenCase{"broken_negative_blocks", "hostile.negative_blocks", "a negative sample count wrote"},
        BrokenCase{"broken_sleeps_before_countdown", "processing.owed_samples_written", "left unwritten"},
        BrokenCase{"broken_sleeps_before_wrapped_countdown", "processing.owed_samples_written",
                   "left unwritten"},
        BrokenCase{"broken_stale_active_routine", "processing.owed_samples_written", "left unwritten"},
        BrokenCase{"broken_silent_graph_start", "processing.graph_start", "output pin 9"}};
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Faults, BrokenLibrary, ::testing::ValuesIn(brokenCases()),
                         [](const ::testing::TestParamInfo<BrokenCase>& info) {
                             return std::string(info.param.library).substr(7);
                         });

// Every check is the one meant for some broken library above, or broken by one with it (listed
// in its row), or has its own test here (loading.dlopen) or beside (description.pins).
TEST(BrokenLibraries, CoverEveryCheck) {
    std::set<std::string> covered{"loading.dlopen", "description.pins"};
    for (const BrokenCase& c : brokenCases()) {
        covered.insert(c.check);
        for (const std::string& other : c.also)
            if (other.back() != '.') covered.insert(other);
    }
    for (const auto& [id, check] : runValidate(kvx::test::adsrLibraryPath(), "--seeds 1").checks)
        EXPECT_TRUE(covered.count(id)) << id << " has no broken library";
}

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
