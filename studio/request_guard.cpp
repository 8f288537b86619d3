// SPDX-License-Identifier: MIT
// The token and the Host/Origin checks.
#include "studio/request_guard.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace kvx::studio {

std::string newToken() {
    std::random_device device;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(device()));
        token += part;
    }
    return token;
}

namespace {

// Compares in time that depends on the lengths only, so that the token cannot be guessed digit
// by digit from the answers' timing.
bool sameSecret(const std::string& given, const std::string& secret) {
    if (given.size() != secret.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
    return difference == 0;
}

}  // namespace

std::string RequestGuard::refusal(const std::string& host, const std::string& origin, bool hasOrigin,
                                  const std::string& given) const {
    if (std::find(hosts.begin(), hosts.end(), host) == hosts.end())
        return "the Host header must name this server (" + hosts.front() + ")";
    if (hasOrigin && std::none_of(hosts.begin(), hosts.end(),
                                  [&origin](const std::string& name) { return origin == "http://" + name; }))
        return "requests from another origin are refused";
    if (!sameSecret(given, token)) return "a valid token is needed (the one in the URL kvx studio printed)";
    return "";
}

RequestGuard guardFor(const std::string& address, int port, std::string token) {
    RequestGuard guard;
    guard.token = std::move(token);
    const std::string suffix = ":" + std::to_string(port);
    guard.hosts = {"127.0.0.1" + suffix, "localhost" + suffix};
    if (address != "127.0.0.1" && address != "localhost") guard.hosts.push_back(address + suffix);
    return guard;
}

}  // namespace kvx::studio
