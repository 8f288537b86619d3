// SPDX-License-Identifier: MIT
// The studio's HTTP server: the page's files and the API, behind the request guard, until
// SIGINT or SIGTERM.
#pragma once

#include <ostream>
#include <string>

#include "studio/render_api.h"

namespace kvx::studio {

struct ServerOptions {
    std::string address = "127.0.0.1";
    int port = 0;  // 0: a free port
    bool open = false;  // run xdg-open on the URL
};

inline constexpr size_t MAX_BODY_BYTES = 1 << 20;

// Serves `subject`; prints the URL on `out` once it listens. Returns the exit status.
int serve(const Subject& subject, const ServerOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kvx::studio
