/* SPDX-License-Identifier: MIT */
// Running x11perf as a client of a test server and reading its output:
// the timing arguments, a measured run with a fixed -reps, and the search
// for the reps that last a wanted time.
#pragma once

#include "session.h"

#include <optional>
#include <string>
#include <vector>

namespace qelbench {

struct Timing {
    int repeat = 2;
    double seconds = 2;
    long fixedReps = 0; // 0: find the reps that last `seconds`
    int rounds = 3;     // measured runs per server and test; the median is reported
    std::vector<std::string> others;
    std::string text;
};

// -repeat, -time, -reps and -rounds are taken apart; other arguments are
// passed on to x11perf.
Timing parseTiming(const std::vector<std::string> &args);
// The timing arguments: argv after the report path, else X11PERF_ARGS, else
// -repeat 2 -time 2.
std::vector<std::string> timingWords(int argc, char **argv);

// "   40000 reps @   0.0314 msec ( 31900.0/sec): 500x500 rectangle": the
// count is already reps times the objects one rep draws, so it is the
// number of operations; "trep" is the summary of all reps with -repeat.
struct RateLine {
    long operations = 0;
    double perSecond = 0;
    std::string label;
};

struct X11perfRun {
    std::vector<RateLine> reps;
    std::optional<RateLine> summary;
    std::string raw;

    long operations() const;
    double perSecond() const;
    std::string label() const { return reps.empty() ? "" : reps.front().label; }
    double seconds() const;
};

X11perfRun parseX11perf(const std::string &out);

// x11perf -repeat R -reps N [others] -TEST; throws when it fails or reports
// nothing.
X11perfRun runX11perf(const qeltest::Session &session, const std::string &test, int repeat,
                      long reps, const std::vector<std::string> &others, double seconds);

// x11perf's own calibration runs the test a varying, unreported number of
// times on the server, so a measured run gets a fixed -reps instead and
// every operation it makes is in its report. The reps are found in runs
// that are not measured.
long repsLasting(const qeltest::Session &session, const std::string &test, const Timing &timing);

} // namespace qelbench
