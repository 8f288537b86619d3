// SPDX-License-Identifier: MIT
// The studio's API: what it serves is fixed when it starts (a module of a library, or a patch);
// a request only carries settings, notes or a score, which become the options of `kvx render`
// and are rendered by the same library code, in memory.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "patch/patch_file.h"
#include "render/options.h"

namespace kvx::studio {

// A request the API refuses, with the status to answer and the one line to say.
class RequestError : public std::runtime_error {
public:
    RequestError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

struct Subject {
    render::RenderOptions base;           // plugin (the library or the patch file), id, subtype, describe
    std::optional<patch::PatchFile> patch;  // set for a patch
    std::string named;                    // what the command line named, for the equivalent command
};

// GET /api/subject.
std::string subjectJson(const Subject& subject);

// POST /api/render: `body` is the request's JSON. Throws RequestError (400 with the message
// `kvx render` would print for the same settings).
std::string renderJson(const Subject& subject, const std::string& body);

}  // namespace kvx::studio
