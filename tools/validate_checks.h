// The validator's checks: what one check is, its outcome, and the groups that hold them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/validate_guarded_buffer.h"
#include "tools/validate_module.h"
#include "tools/validate_shape.h"

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

// Every group, in report order. One file per group.
Group loadingChecks();
Group factoryChecks();
Group instanceChecks();
Group processingChecks();
Group accuracyChecks();
Group realtimeChecks();
Group hostileChecks();

std::vector<Group> allGroups();

}  // namespace kvx::validate
