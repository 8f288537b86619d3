// SPDX-License-Identifier: MIT
// Routes, refusals and the serving loop.
#include "studio/server.h"

#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "studio/preset_api.h"
#include "studio/request_guard.h"
#include "studio/web_assets.h"

extern char** environ;

namespace kvx::studio {

namespace {

// Debian's cpp-httplib compresses "application/json" with Brotli at its highest quality for a
// browser that accepts it: a second for a render's answer. With the charset named it leaves the
// answer as it is, which on loopback is what is fast.
constexpr const char* JSON_TYPE = "application/json; charset=utf-8";

void answerError(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    response.set_content(nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                         JSON_TYPE);
}

void openInBrowser(const std::string& url, std::ostream& err) {
    const char* argv[] = {"xdg-open", url.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        err << "kvx studio: cannot run xdg-open; open the URL yourself\n";
}

}  // namespace

int serve(const Subject& subjectAsStarted, const ServerOptions& options, std::ostream& out, std::ostream& err) {
    // The signals are taken by sigwait below, not by whichever thread they would land on.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);

    httplib::Server server;
    // Without the library's SO_REUSEPORT: a second studio on a port in use must fail to listen,
    // not share the port with the first (each would refuse half the requests for their tokens).
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    int port = options.port;
    if (port == 0)
        port = server.bind_to_any_port(options.address);
    else if (!server.bind_to_port(options.address, port))
        port = -1;
    if (port <= 0) {
        err << "kvx studio: cannot listen on " << options.address << ":" << options.port << "\n";
        return 1;
    }
    const RequestGuard guard = guardFor(options.address, port, newToken());
    server.set_payload_max_length(MAX_BODY_BYTES);
    server.set_pre_routing_handler([&guard](const httplib::Request& request, httplib::Response& response) {
        const std::string token = request.has_header("X-Kvx-Token") ? request.get_header_value("X-Kvx-Token")
                                                                     : request.get_param_value("token");
        const std::string refused = guard.refusal(request.get_header_value("Host"), request.get_header_value("Origin"),
                                                  request.has_header("Origin"), token);
        if (refused.empty()) return httplib::Server::HandlerResponse::Unhandled;
        answerError(response, 403, refused);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return;
        const int status = response.status;
        answerError(response, status,
                    status == 404   ? "no such page"
                    : status == 413 ? "the request is larger than " + std::to_string(MAX_BODY_BYTES) + " bytes"
                                    : "the request was refused (HTTP " + std::to_string(status) + ")");
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            answerError(response, 500, error.what());
        } catch (...) {
            answerError(response, 500, "internal error");
        }
    });

    // The subject's answer renders once, holding the description against the library; the
    // requests then need not do it again.
    const std::string subjectText = subjectJson(subjectAsStarted);
    Subject checked = subjectAsStarted;
    checked.base.agreementChecked = true;
    const Subject& subject = checked;
    server.Get("/api/subject", [&subjectText](const httplib::Request&, httplib::Response& response) {
        response.set_content(subjectText, JSON_TYPE);
    });
    auto api = [&subject](std::string (*handle)(const Subject&, const std::string&)) {
        return [&subject, handle](const httplib::Request& request, httplib::Response& response) {
            try {
                response.set_content(handle(subject, request.body), JSON_TYPE);
            } catch (const RequestError& error) {
                answerError(response, error.status(), error.what());
            }
        };
    };
    server.Post("/api/render", api(renderJson));
    server.Post("/api/preset", api(presetJson));
    auto wrongMethod = [](const httplib::Request& request, httplib::Response& response) {
        const bool post = request.path == "/api/render" || request.path == "/api/preset";
        response.set_header("Allow", post ? "POST" : "GET");
        answerError(response, 405, request.method + " is not allowed here");
    };
    server.Get("/api/render", wrongMethod);
    server.Get("/api/preset", wrongMethod);
    server.Get("/api/.*", [](const httplib::Request&, httplib::Response& response) {
        answerError(response, 404, "no such page");
    });
    server.Get("/(.*)", [](const httplib::Request& request, httplib::Response& response) {
        const std::string name = request.path == "/" ? "index.html" : request.path.substr(1);
        const WebAsset* asset = findWebAsset(name);
        if (asset == nullptr) return answerError(response, 404, "no such page");
        response.set_header("Cache-Control", "no-store");
        response.set_content(std::string(asset->bytes), contentTypeFor(name));
    });
    server.Post("/api/subject", wrongMethod);
    server.Post("/(.*)", [](const httplib::Request&, httplib::Response& response) {
        answerError(response, 404, "no such page");
    });
    server.Put("/(.*)", wrongMethod);
    server.Delete("/(.*)", wrongMethod);
    server.Patch("/(.*)", wrongMethod);

    std::thread serving([&server] { server.listen_after_bind(); });
    const std::string shownHost = options.address.find(':') != std::string::npos ? "[" + options.address + "]"
                                                                                   : options.address;
    const std::string url = "http://" + shownHost + ":" + std::to_string(port) + "/?token=" + guard.token;
    out << "kvx studio: serving " << subject.named << " at " << url << "\n"
        << "kvx studio: press Ctrl-C to stop\n";
    out.flush();
    if (options.open) openInBrowser(url, err);
    int signalNumber = 0;
    sigwait(&stopping, &signalNumber);
    server.stop();
    serving.join();
    out << "kvx studio: stopped\n";
    return 0;
}

}  // namespace kvx::studio
