// SPDX-License-Identifier: MIT
// The patch's run order: strongly connected components by reachability (patches are small; this
// is simple and plainly right), then the components in dependency order.
#include "host/patch_order.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <queue>
#include <string>

#include "host/host_error.h"
#include "host/patch_checks.h"

namespace kvx::host {

namespace {

using Edges = std::vector<std::vector<int32_t>>;  // successors by module, in connection order

size_t at(int32_t index) { return static_cast<size_t>(index); }

Edges successors(const PatchGraph& graph, bool withDelayed) {
    Edges next(graph.modules.size());
    for (const PatchConnection& c : graph.connections)
        if (withDelayed || !c.oneSampleDelay) next[at(c.fromModule)].push_back(c.toModule);
    return next;
}

std::vector<bool> reachableFrom(const Edges& next, int32_t start) {
    std::vector<bool> seen(next.size(), false);
    std::deque<int32_t> queue{start};
    seen[at(start)] = true;
    while (!queue.empty()) {
        const int32_t node = queue.front();
        queue.pop_front();
        for (int32_t to : next[at(node)])
            if (!seen[at(to)]) {
                seen[at(to)] = true;
                queue.push_back(to);
            }
    }
    return seen;
}

// Component id of every module; ids are given in the order of each component's first module.
std::vector<int32_t> components(const Edges& next, int32_t& count) {
    const size_t n = next.size();
    std::vector<std::vector<bool>> reach;
    for (size_t i = 0; i < n; ++i) reach.push_back(reachableFrom(next, static_cast<int32_t>(i)));
    std::vector<int32_t> component(n, -1);
    count = 0;
    for (size_t i = 0; i < n; ++i) {
        if (component[i] >= 0) continue;
        for (size_t j = i; j < n; ++j)
            if (reach[i][j] && reach[j][i]) component[j] = count;
        ++count;
    }
    return component;
}

bool feedsItself(const Edges& next, int32_t module) {
    const std::vector<int32_t>& to = next[at(module)];
    return std::find(to.begin(), to.end(), module) != to.end();
}

// A loop of undelayed connections through `start`, within its component: the shortest one.
[[noreturn]] void refuseLoop(const PatchGraph& graph, const Edges& next, const std::vector<int32_t>& component,
                             int32_t start) {
    std::vector<int32_t> parent(next.size(), -1);
    std::deque<int32_t> queue{start};
    int32_t last = -1;
    while (!queue.empty() && last < 0) {
        const int32_t node = queue.front();
        queue.pop_front();
        for (int32_t to : next[at(node)]) {
            if (component[at(to)] != component[at(start)]) continue;
            if (to == start) {
                last = node;
                break;
            }
            if (parent[at(to)] < 0) {
                parent[at(to)] = node;
                queue.push_back(to);
            }
        }
    }
    std::vector<int32_t> path;
    for (int32_t node = last; node != start; node = parent[at(node)]) path.push_back(node);
    path.push_back(start);
    std::reverse(path.begin(), path.end());
    std::string loop;
    for (int32_t node : path) loop += moduleName(graph, node) + " -> ";
    loop += moduleName(graph, start);
    throw HostError(patchPrefix(graph) + "ambiguous feedback: " + loop +
                    " is a loop of connections without a one-sample delay; give one of them the delay");
}

// Kahn's algorithm over `nodes`, `after(a)` listing what must follow a (others are ignored);
// ties go to the smallest node.
std::vector<int32_t> ordered(const std::vector<int32_t>& nodes,
                             const std::function<std::vector<int32_t>(int32_t)>& after, size_t universe) {
    std::vector<int32_t> incoming(universe, 0);
    std::vector<bool> member(universe, false);
    for (int32_t node : nodes) member[at(node)] = true;
    for (int32_t node : nodes)
        for (int32_t to : after(node))
            if (member[at(to)] && to != node) ++incoming[at(to)];
    std::priority_queue<int32_t, std::vector<int32_t>, std::greater<>> ready;
    for (int32_t node : nodes)
        if (incoming[at(node)] == 0) ready.push(node);
    std::vector<int32_t> order;
    while (!ready.empty()) {
        const int32_t node = ready.top();
        ready.pop();
        order.push_back(node);
        for (int32_t to : after(node))
            if (member[at(to)] && to != node && --incoming[at(to)] == 0) ready.push(to);
    }
    return order;
}

}  // namespace

std::vector<PatchStage> orderPatch(const PatchGraph& graph) {
    const size_t n = graph.modules.size();
    const Edges undelayed = successors(graph, false);
    int32_t count = 0;
    const std::vector<int32_t> tight = components(undelayed, count);
    std::vector<int32_t> size(at(count), 0);
    for (int32_t c : tight) ++size[at(c)];
    for (size_t m = 0; m < n; ++m) {
        const auto module = static_cast<int32_t>(m);
        if (size[at(tight[m])] > 1 || feedsItself(undelayed, module))
            refuseLoop(graph, undelayed, tight, module);
    }

    const Edges all = successors(graph, true);
    const std::vector<int32_t> component = components(all, count);
    std::vector<std::vector<int32_t>> members(at(count));
    for (size_t m = 0; m < n; ++m) members[at(component[m])].push_back(static_cast<int32_t>(m));
    std::vector<int32_t> ids;
    for (int32_t c = 0; c < count; ++c) ids.push_back(c);
    // Component ids follow their first modules, so ties between components go by the graph too.
    const std::vector<int32_t> stageOrder = ordered(
        ids,
        [&](int32_t c) {
            std::vector<int32_t> to;
            for (int32_t m : members[at(c)])
                for (int32_t next : all[at(m)]) to.push_back(component[at(next)]);
            return to;
        },
        at(count));

    std::vector<PatchStage> stages;
    for (int32_t c : stageOrder) {
        const std::vector<int32_t>& modules = members[at(c)];
        PatchStage stage;
        stage.perSample = modules.size() > 1 || feedsItself(all, modules.front());
        stage.modules = ordered(
            modules, [&](int32_t m) { return undelayed[at(m)]; }, n);
        stages.push_back(std::move(stage));
    }
    return stages;
}

}  // namespace kvx::host
