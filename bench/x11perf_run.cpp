// SPDX-License-Identifier: MIT
#include "x11perf_run.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace qelbench {

Timing parseTiming(const std::vector<std::string> &args)
{
    Timing t;
    for (const std::string &arg : args)
        t.text += (t.text.empty() ? "" : " ") + arg;
    for (size_t i = 0; i < args.size(); ++i) {
        bool hasValue = i + 1 < args.size();
        if (args[i] == "-repeat" && hasValue)
            t.repeat = std::stoi(args[++i]);
        else if (args[i] == "-time" && hasValue)
            t.seconds = std::stod(args[++i]);
        else if (args[i] == "-reps" && hasValue)
            t.fixedReps = std::stol(args[++i]);
        else if (args[i] == "-rounds" && hasValue)
            t.rounds = std::stoi(args[++i]);
        else
            t.others.push_back(args[i]);
    }
    if (t.repeat < 1 || t.seconds <= 0 || t.rounds < 1)
        throw std::invalid_argument("-repeat, -time and -rounds must be positive");
    return t;
}

namespace {

std::vector<std::string> splitWords(const std::string &text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

} // namespace

std::vector<std::string> timingWords(int argc, char **argv)
{
    if (argc > 2)
        return {argv + 2, argv + argc};
    const char *env = std::getenv("X11PERF_ARGS");
    return splitWords(env && *env ? env : "-repeat 2 -time 2");
}

long X11perfRun::operations() const
{
    long total = 0;
    for (const RateLine &r : reps)
        total += r.operations;
    return total;
}

double X11perfRun::perSecond() const
{
    if (summary)
        return summary->perSecond;
    return reps.empty() ? 0 : reps.back().perSecond;
}

double X11perfRun::seconds() const
{
    return perSecond() > 0 ? static_cast<double>(operations()) / perSecond() : 0;
}

X11perfRun parseX11perf(const std::string &out)
{
    static const std::regex line(
        R"(^\s*(\d+) (reps|trep) @\s*[\d.]+ msec \(\s*([\d.]+)/sec\): (.*)$)");
    X11perfRun run;
    run.raw = out;
    std::istringstream in(out);
    std::string text;
    std::smatch m;
    while (std::getline(in, text)) {
        if (!std::regex_match(text, m, line))
            continue;
        RateLine r{std::stol(m[1]), std::stod(m[3]), m[4]};
        if (m[2] == "trep")
            run.summary = r;
        else
            run.reps.push_back(r);
    }
    return run;
}

X11perfRun runX11perf(const qeltest::Session &session, const std::string &test, int repeat,
                      long reps, const std::vector<std::string> &others, double seconds)
{
    std::vector<std::string> argv = {"x11perf", "-repeat", std::to_string(repeat), "-reps",
                                     std::to_string(reps)};
    argv.insert(argv.end(), others.begin(), others.end());
    argv.push_back("-" + test);
    // Generous: a slow server may take many times the planned duration.
    auto timeout =
        std::chrono::seconds(120) + std::chrono::seconds(static_cast<long>(10 * repeat * seconds));
    qeltest::CommandResult result = session.run(argv, timeout);
    X11perfRun run = parseX11perf(result.out);
    if (!result.succeeded() || run.reps.empty())
        throw std::runtime_error("x11perf -" + test + " failed: " + result.describe());
    return run;
}

// Grows the reps until one run lasts a tenth of a second, then scales them
// to the wanted duration.
long repsLasting(const qeltest::Session &session, const std::string &test, const Timing &timing)
{
    if (timing.fixedReps > 0)
        return timing.fixedReps;
    long reps = 1;
    for (;;) {
        X11perfRun probe = runX11perf(session, test, 1, reps, timing.others, 1);
        double seconds = probe.seconds();
        if (seconds >= 0.1 || reps >= 100000000)
            return std::max(1L, static_cast<long>(static_cast<double>(reps) * timing.seconds /
                                                  std::max(seconds, 1e-6)));
        double growth = seconds > 0 ? 0.2 / seconds : 100;
        reps *= static_cast<long>(std::clamp(growth, 2.0, 100.0));
    }
}

} // namespace qelbench
