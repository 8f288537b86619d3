// SPDX-License-Identifier: MIT
// The one exception type of the host library: a message fit to show a person.
#pragma once

#include <stdexcept>
#include <string>

namespace kvx::host {

class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kvx::host
