// SPDX-License-Identifier: MIT
// Writes an LV2 bundle for a module library: the library and its description copied in, the
// bridge binary, manifest.ttl, the plug-ins' Turtle and the index the bridge reads.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace kvx::lv2 {

struct BundleSource {
    std::string library;            // path of NAME.kvx
    std::string descriptionText;    // its description (JSON)
    std::string descriptionSource;  // where the text came from, for messages
    std::string bridgeBinary;       // path of the bridge binary to copy in
};

class BundleError : public std::runtime_error {
public:
    explicit BundleError(const std::string& message) : std::runtime_error(message) {}
};

struct WrittenPlugin {
    std::string uri;
    std::string name;                  // doap:name
    std::vector<std::string> leftOut;  // symbols of the module's pins no port of it plays
};

// File names inside every bundle.
inline constexpr const char* BRIDGE_BINARY_NAME = "kvx-lv2-bridge.so";

// Writes the bundle into `folder` (created if needed; an existing folder must be empty or a
// bundle written before, whose files are replaced). Every described module must be creatable
// from the library. Returns the plug-ins written. Throws BundleError with one line.
std::vector<WrittenPlugin> writeBundle(const BundleSource& source, const std::string& folder);

}  // namespace kvx::lv2
