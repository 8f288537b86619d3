// SPDX-License-Identifier: MIT
// Who may talk to the studio: a request must carry the token printed in the URL, and name the
// server by its loopback name and port in Host (and Origin, when a browser sends one), so that a
// page elsewhere cannot reach it through a name that resolves to 127.0.0.1 (DNS rebinding).
#pragma once

#include <string>
#include <vector>

namespace kvx::studio {

// 128 random bits from std::random_device, as 32 hexadecimal digits.
std::string newToken();

struct RequestGuard {
    std::string token;
    std::vector<std::string> hosts;  // "127.0.0.1:8123", "localhost:8123"

    // Why the request is refused, or "" when it may go on. `origin` is empty when none was sent;
    // `token` is the query's or the X-Kvx-Token header's.
    std::string refusal(const std::string& host, const std::string& origin, bool hasOrigin,
                        const std::string& token) const;
};

// The guard for a server at `address`:`port` (its loopback names, and `address` itself).
RequestGuard guardFor(const std::string& address, int port, std::string token);

}  // namespace kvx::studio
