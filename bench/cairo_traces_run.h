/* SPDX-License-Identifier: MIT */
// The replay benchmark's records: what one replay of one trace cost, and
// what the servers (ServerConfig; no driver: cairo's image backend, the
// client by itself) said.
#pragma once

#include "bench_servers.h"

#include <ostream>
#include <string>
#include <vector>

namespace qelbench {

// One replay of one trace by one target: cairo-perf-trace's time, the X
// server main thread's CPU time, and what the simulator counted meanwhile.
struct Replay {
    double seconds = 0;
    double mainCpuSeconds = 0;
    long buffersCreated = 0;
    long geSubmits = 0;
    long geWaits = 0;
    long pixelsFilled = 0;
    long pixelsCopied = 0;
    bool geGivenUp = false;
    std::vector<double> roundSeconds; // every round's time, in the order run
};

// What a server's log said when it stopped.
struct ServerSummary {
    long movesToBuffer = 0;
    long cachePeakBytes = 0;  // released pixmap buffers kept
    long memoryPeakBytes = 0; // released pixmap system memory kept
    bool geGivenUp = false;
};

struct ReplayComparison {
    std::string geMode;
    int rounds = 0;
    std::vector<ServerConfig> targets;
    std::vector<std::string> traces;
    std::vector<std::vector<Replay>> results; // [target][trace], the median round
    std::vector<ServerSummary> summaries;     // [target]
};

// The round with the median time (the lower middle one for an even count),
// carrying the times of all of them.
Replay medianReplay(const std::vector<Replay> &rounds);

void writeReplayReport(std::ostream &out, const ReplayComparison &c);

} // namespace qelbench
