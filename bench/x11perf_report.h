/* SPDX-License-Identifier: MIT */
// The x11perf benchmark's report: what each server measured per test, how
// qel with its defaults compares with qel Accel off and with the stock
// modesetting driver, the goals marked, and a summary line last.
#pragma once

#include "bench_servers.h"
#include "x11perf_run.h"

#include <ostream>
#include <string>
#include <vector>

namespace qelbench {

// What the server did during one measured run.
struct Sample {
    double mainCpuSeconds = 0;
    double processCpuSeconds = 0;
    long geSubmits = 0;
    long geOps = 0;
    long geWaits = 0;
};

Sample operator-(const Sample &a, const Sample &b);

struct Measurement {
    long repsPerRun = 0;
    X11perfRun run;
    Sample delta;
    // Operations per second of every round, in the order they ran; the
    // fields above are those of the median round.
    std::vector<double> roundRates;
    // The server's log says it gave the GE up: during one of this test's
    // rounds, or by the end of them (then it drew them without the GE).
    bool geGivenUpHere = false;
    bool geGivenUp = false;

    double microsPerOp(double seconds) const;
};

// The servers in the order the report lists them; the report compares the
// first (qel with its defaults) with the one titled "qel Accel off" and the
// one whose driver is modesetting.
// A GE kept busy must not be taken for a hung one: one fresh server with
// qel's defaults runs tilerect100, then copypixwin500 (more queued copies
// than the GE does in a second), then tilerect100 again.
struct Recovery {
    bool measured = false;
    double alone = 0; // tilerect100 operations per second, first
    double after = 0; // and after copypixwin500
    bool geGivenUp = false;
};

struct Comparison {
    std::vector<ServerConfig> servers;
    std::vector<std::string> tests;
    std::vector<std::vector<Measurement>> results; // [server][test]
    Recovery recovery;
};

// What the driver logs once when it gives up the GE.
inline constexpr const char *kGeGivenUpText = "; drawing without it from now on";

// The run with the median rate (the lower of the two middle ones for an even
// count), carrying the rates of all of them.
Measurement medianRound(const std::vector<Measurement> &rounds);

void writeReport(std::ostream &out, const Timing &timing, const Comparison &c);

} // namespace qelbench
