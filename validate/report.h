// SPDX-License-Identifier: MIT
// The validator's report: one result per check, printed as grouped lines with a summary, or
// as JSON for machines.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "validate/check.h"

namespace kvx::validate {

struct CheckResult {
    std::string group;
    std::string name;
    std::string summary;
    Outcome outcome;
    double seconds = 0.0;
    std::string unwrittenOwed;  // an owed sample left unwritten in a session the check rendered
};

struct Report {
    std::string library;
    std::string module;
    std::string description;  // the description checked, or empty
    int32_t subtype = 0;
    std::vector<CheckResult> results;
    double seconds = 0.0;

    int count(Status status) const;
    bool passed() const { return count(Status::Fail) == 0; }
};

// Every session any check renders answers to processing.owed_samples_written: the first owed
// sample left unwritten anywhere fails that check (when its own sessions did not already).
void judgeOwedSamplesEverywhere(Report& report);

void printText(std::ostream& out, const Report& report);
void printJson(std::ostream& out, const Report& report);
const char* statusName(Status status);

}  // namespace kvx::validate
