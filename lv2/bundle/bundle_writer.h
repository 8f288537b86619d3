// SPDX-License-Identifier: MIT
// Writes an LV2 bundle for a module library: the library and its description copied in, the
// bridge binary, manifest.ttl, the plug-ins' Turtle and the index the bridge reads.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "patch/patch_file.h"

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

struct PatchBundleSource {
    std::string patchPath;   // NAME.kvxpatch.json
    std::string patchText;   // its text, as read
    patch::PatchFile patch;  // as the patch reader read it
    // The description of a library that has none beside it (the envelope's built-in one).
    std::string undescribedText;
    std::string bridgeBinary;
};

// Writes a patch's bundle into `folder` (as writeBundle does): every library the patch uses with
// its description beside it, the patch with its modules named by those copies (relative to the
// bundle), the bridge binary, the Turtle and the index. The bundle is read back and its patch
// built before this returns. Throws BundleError with one line.
std::vector<WrittenPlugin> writePatchBundle(const PatchBundleSource& source, const std::string& folder);

}  // namespace kvx::lv2
