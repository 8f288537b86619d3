// SPDX-License-Identifier: MIT
// The error `kvx render` reports for wrong input: one line fit to show a person, no stack of
// causes. Anything else that escapes is a bug or a system failure.
#pragma once

#include <stdexcept>
#include <string>

namespace kvx::render {

class RenderError : public std::runtime_error {
public:
    explicit RenderError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kvx::render
