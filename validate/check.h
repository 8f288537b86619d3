// SPDX-License-Identifier: MIT
// What one check of the validator is, its outcome, and the group that holds it.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "validate/context.h"

namespace kvx::validate {

enum class Status {
    Pass,
    Fail,
    Skip
};

struct Outcome {
    Status status = Status::Pass;
    std::string detail;  // evidence for a failure, the reason for a skip, a short note for a pass
};

inline Outcome pass(std::string note = "") { return {Status::Pass, std::move(note)}; }
inline Outcome fail(std::string evidence) { return {Status::Fail, std::move(evidence)}; }
inline Outcome skip(std::string reason) { return {Status::Skip, std::move(reason)}; }

struct Check {
    std::string name;                            // short, unique within its group
    std::string summary;                         // what passing means
    std::function<Outcome(const Context&)> run;  // may throw CheckFailure (a failure)
};

struct Group {
    std::string name;
    std::vector<Check> checks;
};

}  // namespace kvx::validate
