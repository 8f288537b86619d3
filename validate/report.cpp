// SPDX-License-Identifier: MIT
// Report formatting: text lines grouped by check group, and JSON.
#include "validate/report.h"

#include <iomanip>
#include <nlohmann/json.hpp>
#include <ostream>

namespace kvx::validate {

const char* statusName(Status status) {
    switch (status) {
        case Status::Pass:
            return "PASS";
        case Status::Fail:
            return "FAIL";
        case Status::Skip:
            return "SKIP";
    }
    return "?";
}

int Report::count(Status status) const {
    int total = 0;
    for (const CheckResult& result : results) total += result.outcome.status == status ? 1 : 0;
    return total;
}

void judgeOwedSamplesEverywhere(Report& report) {
    CheckResult* owedCheck = nullptr;
    for (CheckResult& result : report.results)
        if (result.group == "processing" && result.name == "owed_samples_written") owedCheck = &result;
    if (owedCheck == nullptr || owedCheck->outcome.status == Status::Fail) return;
    for (const CheckResult& result : report.results)
        if (!result.unwrittenOwed.empty()) {
            owedCheck->outcome =
                fail(result.unwrittenOwed + " (a session of " + result.group + "." + result.name + ")");
            return;
        }
}

void printText(std::ostream& out, const Report& report) {
    out << "kvx validate " << report.library << "  module \"" << report.module << "\" subtype "
        << report.subtype << "\n";
    if (!report.description.empty()) out << "described by " << report.description << "\n";
    std::string group;
    for (const CheckResult& result : report.results) {
        if (result.group != group) {
            group = result.group;
            out << "\n" << group << "\n";
        }
        out << "  " << statusName(result.outcome.status) << "  " << std::left << std::setw(34)
            << (result.group + "." + result.name) << " " << result.summary;
        if (!result.outcome.detail.empty())
            out << (result.outcome.status == Status::Pass ? " (" : "\n        ") << result.outcome.detail
                << (result.outcome.status == Status::Pass ? ")" : "");
        out << "\n";
    }
    out << "\n"
        << report.results.size() << " checks: " << report.count(Status::Pass) << " passed, "
        << report.count(Status::Fail) << " failed, " << report.count(Status::Skip) << " skipped in "
        << std::fixed << std::setprecision(1) << report.seconds
        << " s: " << (report.passed() ? "VALID" : "NOT VALID") << "\n";
}

void printJson(std::ostream& out, const Report& report) {
    nlohmann::json checks = nlohmann::json::array();
    for (const CheckResult& result : report.results) {
        checks.push_back({{"id", result.group + "." + result.name},
                          {"group", result.group},
                          {"name", result.name},
                          {"summary", result.summary},
                          {"status", statusName(result.outcome.status)},
                          {"detail", result.outcome.detail},
                          {"seconds", result.seconds}});
    }
    nlohmann::json document = {{"library", report.library},
                               {"module", report.module},
                               {"subtype", report.subtype},
                               {"description", report.description},
                               {"checks", checks},
                               {"summary",
                                {{"total", report.results.size()},
                                 {"passed", report.count(Status::Pass)},
                                 {"failed", report.count(Status::Fail)},
                                 {"skipped", report.count(Status::Skip)},
                                 {"valid", report.passed()},
                                 {"seconds", report.seconds}}}};
    out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

}  // namespace kvx::validate
