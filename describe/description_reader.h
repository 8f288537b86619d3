// SPDX-License-Identifier: MIT
// Reads module descriptions: JSON text in, a checked Description out, or one line that names the
// file, the JSON path and what was expected there.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "describe/description.h"

namespace kvx::describe {

// "FILE: $.modules[0].pins[3].unit: expected one of ..., got \"sec\"" (one line).
class DescriptionError : public std::runtime_error {
public:
    explicit DescriptionError(const std::string& message) : std::runtime_error(message) {}
};

// Parses and checks a description: everything the schema says, and what a schema cannot (ids and
// symbols unique, minimum <= default <= maximum, positive ranges for logarithmic pins). Pins come
// out sorted by id. Throws DescriptionError starting with `source`.
Description parseDescription(std::string_view text, const std::string& source);

// Reads and parses a description file. Throws DescriptionError naming `path`.
Description loadDescription(const std::string& path);

// The description file that belongs beside a library: "dir/NAME.kvx" -> "dir/NAME.kvx.json".
std::string descriptionPathFor(const std::string& libraryPath);

// The description file a tool reads for a library: `given` (--describe) when set, else the file
// beside the library when there is one, else "" (none).
std::string chooseDescriptionFile(const std::string& libraryPath, const std::string& given);

}  // namespace kvx::describe
