// SPDX-License-Identifier: MIT
// x11perf on the real Xorg and the simulated 1024x768 panel, against four
// servers side by side: qel with its defaults (Accel and TearFree on), qel
// with TearFree off, qel with Accel off, and the stock modesetting driver.
// Per test: operations per second, the X server main thread's CPU time per
// operation (the simulated GE's worker thread is the hardware, so it is left
// out there), the whole process's CPU time per operation, and for qel with
// Accel on GE operations per GE_SUBMIT and the GE waits. The report
// (x11perf_report.cpp) marks qel's defaults against Accel off and against
// modesetting and ends with a summary line; each run's x11perf output is
// kept beside it.
//
//   bench_x11perf [report-file [x11perf timing args...]]
//
// Timing arguments: those given, else X11PERF_ARGS, else -repeat 2 -time 2;
// -rounds N (default 3) sets how many times each server runs each test.
// X11PERF_TESTS (space-separated x11perf test names without the dash)
// measures only those tests, for a quick look at a few.
#include "cpu_time.h"
#include "files.h"
#include "session.h"
#include "x11perf_report.h"
#include "x11perf_run.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace qeltest;
using namespace qelbench;

namespace {

// The panel, with the GE on its worker thread as hardware runs beside the CPU.
const char *const kDevice = R"([device]
nodes = /dev/dri/card0
ge = thread
[crtc]
[connector]
type = eDP
type_id = 1
status = connected
modes = 1024x768@60
)";

// Fills, copies and scrolls the GE does; images in and out; text, arcs,
// polygons, lines and Render composites the CPU draws.
const std::vector<std::string> kTests = {
    "rect10",      "rect500",     "copywinwin500", "copypixwin500", "scroll500",
    "tilerect100", "putimage500", "shmput500",     "getimage500",   "aa10text",
    "aa24text",    "rgb10text",   "rgb24text",     "aaftext",       "fcircle100",
    "trap100",     "trap10",      "seg100",        "compwinwin500", "copywinpix500"};

// The first is what the report judges; the others are its peers.
const std::vector<ServerConfig> kServers = {
    {"defaults", "qel defaults", "qel", {}, true},
    {"tearfree-off", "qel TearFree off", "qel", {{"TearFree", "off"}}, true},
    {"accel-off", "qel Accel off", "qel", {{"Accel", "off"}}, false},
    // Without a GPU the stock driver's glamor would need Mesa's software
    // renderer: its plain shadow rendering is what it offers such a device.
    {"modesetting", "modesetting", "modesetting", {{"AccelMethod", "none"}}, false},
};

std::vector<std::string> selectedTests()
{
    const char *env = std::getenv("X11PERF_TESTS");
    if (!env || !*env)
        return kTests;
    std::istringstream in(env);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// The main thread runs the driver; the simulated GE's worker thread is the
// hardware, so only the whole process's figure includes it.
Sample sample(Session &session)
{
    pid_t pid = session.server().pid();
    auto counters = session.sim().counters();
    return {mainThreadCpuSeconds(pid), processCpuSeconds(pid),
            counterOrZero(counters, "ge_submits"), counterOrZero(counters, "ge_ops"),
            counterOrZero(counters, "ioctl_GE_WAIT")};
}

// Waiting for the GE to go idle on both sides charges the work the test
// queued to it, and none of the work before. The log tells whether the
// server gave the GE up.
Measurement measure(Session &session, const std::string &test, const Timing &timing, long reps)
{
    Measurement m;
    m.repsPerRun = reps;
    session.sim().command("ge-idle");
    Sample before = sample(session);
    size_t logBefore = session.log().size();
    m.run = runX11perf(session, test, timing.repeat, m.repsPerRun, timing.others, timing.seconds);
    session.sim().command("ge-idle");
    m.delta = sample(session) - before;
    const std::string log = session.log();
    m.geGivenUp = log.find(kGeGivenUpText) != std::string::npos;
    m.geGivenUpHere =
        log.find(kGeGivenUpText, std::min(logBefore, log.size())) != std::string::npos;
    return m;
}

// One test on every server, in rounds: each server runs it once per round,
// and round r starts with server r, so that the order of the servers turns.
// The reps are found once per server, before the first round.
std::vector<std::vector<Measurement>> measureRounds(std::vector<std::unique_ptr<Session>> &sessions,
                                                    const std::string &test, const Timing &timing)
{
    size_t n = sessions.size();
    std::vector<long> reps;
    for (auto &session : sessions)
        reps.push_back(repsLasting(*session, test, timing));
    std::vector<std::vector<Measurement>> rounds(n);
    for (int r = 0; r < timing.rounds; ++r) {
        std::cout << " " << r + 1 << std::flush;
        for (size_t k = 0; k < n; ++k) {
            size_t s = (static_cast<size_t>(r) + k) % n;
            rounds[s].push_back(measure(*sessions[s], test, timing, reps[s]));
        }
    }
    return rounds;
}

bool selected(const std::vector<std::string> &tests, const std::string &name)
{
    return std::find(tests.begin(), tests.end(), name) != tests.end();
}

// tilerect100 on a fresh server with qel's defaults, before and after a
// run of copypixwin500.
Recovery measureRecovery(const Timing &timing)
{
    std::cout << "tilerect100 after copypixwin500" << std::flush;
    std::unique_ptr<Session> session = startBenchServer(kServers.front(), kDevice);
    long tileReps = repsLasting(*session, "tilerect100", timing);
    Recovery r;
    r.alone = measure(*session, "tilerect100", timing, tileReps).run.perSecond();
    measure(*session, "copypixwin500", timing, repsLasting(*session, "copypixwin500", timing));
    Measurement after = measure(*session, "tilerect100", timing, tileReps);
    r.after = after.run.perSecond();
    r.geGivenUp = after.geGivenUp;
    r.measured = true;
    session->stop();
    std::cout << "\n";
    return r;
}

Comparison runAll(const Timing &timing, const std::string &outDir)
{
    Comparison c{kServers, selectedTests(), {}, {}};
    std::vector<std::unique_ptr<Session>> sessions;
    for (const ServerConfig &config : c.servers)
        sessions.push_back(startBenchServer(config, kDevice));
    c.results.resize(c.servers.size());
    for (const std::string &test : c.tests) {
        std::cout << test << ": rounds" << std::flush;
        std::vector<std::vector<Measurement>> rounds = measureRounds(sessions, test, timing);
        for (size_t s = 0; s < c.servers.size(); ++s) {
            std::string raw;
            for (const Measurement &m : rounds[s])
                raw += m.run.raw;
            writeFile(outDir + "/x11perf-" + c.servers[s].name + "-" + test + ".raw", raw);
            c.results[s].push_back(medianRound(rounds[s]));
        }
        std::cout << "\n";
    }
    for (auto &session : sessions)
        session->stop();
    if (selected(c.tests, "tilerect100") && selected(c.tests, "copypixwin500"))
        c.recovery = measureRecovery(timing);
    return c;
}

std::string directoryOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

int main(int argc, char **argv)
{
    const std::string path = argc > 1 ? argv[1] : "x11perf.txt";
    try {
        Timing timing = parseTiming(timingWords(argc, argv));
        std::string outDir = directoryOf(path);
        makeDirs(outDir);
        Comparison comparison = runAll(timing, outDir);
        std::ofstream out(path);
        writeReport(out, timing, comparison);
        if (!out)
            throw std::runtime_error("cannot write " + path);
        out.close();
        std::cout << readFile(path) << "report written to " << path << "\n";
    } catch (const std::exception &e) {
        std::cerr << "bench_x11perf: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
