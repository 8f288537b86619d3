// SPDX-License-Identifier: MIT
// Child processes per check group, and the line protocol they report through.
#include "validate/isolation.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "validate/session/render.h"

namespace kvx::validate {

namespace {

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote <= 0) return;
        done += static_cast<size_t>(wrote);
    }
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

// Child side: "B i" before check i, "O i evidence" when a session it rendered left an owed
// sample unwritten, "R i status seconds detail" after it.
[[noreturn]] void runChild(const Group& group, size_t first, const Context& context, int fd,
                           unsigned timeoutSeconds) {
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) dup2(devNull, STDOUT_FILENO);  // a chatty module must not garble the report
    for (size_t i = first; i < group.checks.size(); ++i) {
        writeAll(fd, "B " + std::to_string(i) + "\n");
        alarm(timeoutSeconds);
        const auto began = std::chrono::steady_clock::now();
        Outcome outcome;
        takeUnwrittenOwed();
        try {
            outcome = group.checks[i].run(context);
        } catch (const CheckFailure& failure) {
            outcome = fail(failure.what());
        } catch (const std::exception& error) {
            outcome = fail(std::string("exception: ") + error.what());
        }
        alarm(0);
        const std::string unwrittenOwed = takeUnwrittenOwed();
        if (!unwrittenOwed.empty())
            writeAll(fd, "O " + std::to_string(i) + " " + oneLine(unwrittenOwed) + "\n");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        writeAll(fd, "R " + std::to_string(i) + " " + statusName(outcome.status) + " " +
                         std::to_string(seconds) + " " + oneLine(outcome.detail) + "\n");
    }
    _exit(0);
}

std::string describeEnd(int status, unsigned timeoutSeconds) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (signal == SIGALRM)
            return "did not finish within " + std::to_string(timeoutSeconds) + " s (hang?)";
        const char* name = strsignal(signal);
        return std::string("crashed: ") + (name ? name : "signal") + " (signal " + std::to_string(signal) +
               ")";
    }
    if (WIFEXITED(status))
        return "the process exited with status " + std::to_string(WEXITSTATUS(status)) + " inside the check";
    return "the process ended abnormally";
}

Status statusFromName(const std::string& name) {
    return name == "PASS" ? Status::Pass : name == "SKIP" ? Status::Skip : Status::Fail;
}

}  // namespace

std::vector<CheckResult> runGroupIsolated(const Group& group, const Context& context,
                                          unsigned timeoutSeconds) {
    std::vector<CheckResult> results(group.checks.size());
    std::vector<bool> done(group.checks.size(), false);
    for (size_t i = 0; i < group.checks.size(); ++i) {
        results[i].group = group.name;
        results[i].name = group.checks[i].name;
        results[i].summary = group.checks[i].summary;
    }
    size_t next = 0;
    while (next < group.checks.size()) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
        std::cout.flush();
        std::cerr.flush();
        const pid_t child = fork();
        if (child < 0) throw std::runtime_error("fork failed");
        if (child == 0) {
            close(fds[0]);
            runChild(group, next, context, fds[1], timeoutSeconds);
        }
        close(fds[1]);
        std::string received;
        char chunk[4096];
        ssize_t got;
        while ((got = read(fds[0], chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR))
            if (got > 0) received.append(chunk, static_cast<size_t>(got));
        close(fds[0]);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }

        long started = -1;
        std::istringstream lines(received);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string kind;
            long index = -1;
            fields >> kind >> index;
            if (index < 0 || static_cast<size_t>(index) >= group.checks.size()) continue;
            if (kind == "B") {
                started = index;
            } else if (kind == "O") {
                std::getline(fields, results[static_cast<size_t>(index)].unwrittenOwed);
                if (!results[static_cast<size_t>(index)].unwrittenOwed.empty())
                    results[static_cast<size_t>(index)].unwrittenOwed.erase(0, 1);
            } else if (kind == "R") {
                std::string statusText;
                double seconds = 0.0;
                fields >> statusText >> seconds;
                std::string detail;
                std::getline(fields, detail);
                if (!detail.empty() && detail.front() == ' ') detail.erase(0, 1);
                CheckResult& result = results[static_cast<size_t>(index)];
                result.outcome = Outcome{statusFromName(statusText), detail};
                result.seconds = seconds;
                done[static_cast<size_t>(index)] = true;
                started = -1;
            }
        }
        if (started >= 0) {
            results[static_cast<size_t>(started)].outcome = fail(describeEnd(status, timeoutSeconds));
            done[static_cast<size_t>(started)] = true;
            next = static_cast<size_t>(started) + 1;
            continue;
        }
        // The child ended between checks: whatever it did not report failed to run.
        for (size_t i = next; i < group.checks.size(); ++i)
            if (!done[i]) {
                results[i].outcome = fail("not run: " + describeEnd(status, timeoutSeconds));
                done[i] = true;
            }
        next = group.checks.size();
    }
    return results;
}

}  // namespace kvx::validate
