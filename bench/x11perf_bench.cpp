// x11perf on the real Xorg and the simulated 1024x768 panel, against three
// servers one after the other: qel with Accel on, qel with Accel off, and
// the stock modesetting driver. Per test: operations per second, the X
// server main thread's CPU time per operation (the simulated GE's worker
// thread is the hardware, so it is left out there), the whole process's CPU
// time per operation, and for qel with Accel on GE operations per GE_SUBMIT.
// Writes a plain-text report and keeps each run's x11perf output beside it.
//
//   bench_x11perf [report-file [x11perf timing args...]]
//
// Timing arguments: those given, else X11PERF_ARGS, else -repeat 2 -time 2.
#include "cpu_time.h"
#include "eventually.h"
#include "files.h"
#include "session.h"
#include "x11perf_run.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using namespace qeltest;
using namespace qelbench;

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

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

const std::vector<std::string> kTests = {"rect10",        "rect500",   "copywinwin500",
                                         "copypixwin500", "scroll500", "putimage500"};

// The tests whose main-thread CPU per operation must fall to 1/20 of
// modesetting's: large fills and copies, which the GE does for the CPU.
const std::vector<std::string> kOffloadedTests = {"rect500", "copywinwin500", "copypixwin500",
                                                  "scroll500"};
constexpr double kCpuGoalRatio = 1.0 / 20.0;

struct ServerConfig {
    std::string name;   // file-name friendly
    std::string title;  // for the report
    std::string driver;
    std::vector<std::pair<std::string, std::string>> options;
    bool hasGe = false;
};

const std::vector<ServerConfig> kServers = {
    {"accel-on", "qel Accel on", "qel", {{"Accel", "on"}, {"TearFree", "off"}}, true},
    {"accel-off", "qel Accel off", "qel", {{"Accel", "off"}, {"TearFree", "off"}}, false},
    // Without a GPU the stock driver's glamor would need Mesa's software
    // renderer: its plain shadow rendering is what it offers such a device.
    {"modesetting", "modesetting", "modesetting", {{"AccelMethod", "none"}}, false},
};

__attribute__((format(printf, 1, 2))) std::string format(const char *fmt, ...)
{
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

// ---- server samples ------------------------------------------------------

struct Sample {
    double mainCpuSeconds = 0;
    double processCpuSeconds = 0;
    long geSubmits = 0;
    long geOps = 0;
};

Sample operator-(const Sample &a, const Sample &b)
{
    return {a.mainCpuSeconds - b.mainCpuSeconds, a.processCpuSeconds - b.processCpuSeconds,
            a.geSubmits - b.geSubmits, a.geOps - b.geOps};
}

// The main thread runs the driver; the simulated GE's worker thread is the
// hardware, so only the whole process's figure includes it.
Sample sample(Session &session)
{
    pid_t pid = session.server().pid();
    auto counters = session.sim().counters();
    return {qelbench::mainThreadCpuSeconds(pid), qelbench::processCpuSeconds(pid),
            counterOrZero(counters, "ge_submits"), counterOrZero(counters, "ge_ops")};
}

// ---- one server ------------------------------------------------------------

struct Measurement {
    long repsPerRun = 0;
    X11perfRun run;
    Sample delta;

    double microsPerOp(double seconds) const
    {
        long ops = run.operations();
        return ops > 0 ? 1e6 * seconds / static_cast<double>(ops) : 0;
    }
};

// Waiting for the GE to go idle on both sides charges the work the test
// queued to it, and none of the work before.
Measurement measure(Session &session, const std::string &test, const Timing &timing)
{
    Measurement m;
    m.repsPerRun = repsLasting(session, test, timing);
    session.sim().command("ge-idle");
    Sample before = sample(session);
    m.run = runX11perf(session, test, timing.repeat, m.repsPerRun, timing.others, timing.seconds);
    session.sim().command("ge-idle");
    m.delta = sample(session) - before;
    return m;
}

std::unique_ptr<Session> startServer(const ServerConfig &config)
{
    Testbed testbed;
    testbed.driver(config.driver).simDescription(kDevice);
    for (const auto &[name, value] : config.options)
        testbed.option(name, value);
    std::unique_ptr<Session> session = testbed.start();
    // The server lights the panel once its console is active, after it has
    // begun to accept clients.
    if (!eventually([&] { return session->sim().crtcs().at(0).active; }))
        throw std::runtime_error(config.title + ": no mode set");
    return session;
}

std::vector<Measurement> runServer(const ServerConfig &config, const Timing &timing,
                                   const std::string &outDir)
{
    std::cout << config.title << ":" << std::flush;
    std::unique_ptr<Session> session = startServer(config);
    std::vector<Measurement> results;
    for (const std::string &test : kTests) {
        std::cout << " " << test << std::flush;
        results.push_back(measure(*session, test, timing));
        writeFile(outDir + "/x11perf-" + config.name + "-" + test + ".raw",
                  results.back().run.raw);
    }
    std::cout << "\n";
    session->stop();
    return results;
}

// ---- the report ------------------------------------------------------------

using Results = std::vector<std::vector<Measurement>>;  // [server][test]

std::string ratioText(double num, double den, const char *fmt)
{
    return den > 0 ? format(fmt, num / den) : std::string("-");
}

void row(std::ostream &out, const std::string &name, const std::vector<std::string> &cells)
{
    out << format("  %-30s", name.c_str());
    for (const std::string &cell : cells)
        out << format(" %15s", cell.c_str());
    out << "\n";
}

template <typename F>
std::vector<std::string> cellsFor(const Results &r, size_t test, F cell)
{
    std::vector<std::string> cells;
    for (size_t server = 0; server < r.size(); ++server)
        cells.push_back(cell(server, r[server][test]));
    return cells;
}

void reportTest(std::ostream &out, const Results &r, size_t t)
{
    const Measurement &on = r[0][t], &ms = r[2][t];
    out << kTests[t] << ": " << on.run.label() << "\n";
    row(out, "", cellsFor(r, t, [](size_t s, const Measurement &) { return kServers[s].title; }));
    row(out, "operations per second", cellsFor(r, t, [](size_t, const Measurement &m) {
            return format("%.1f", m.run.perSecond());
        }));
    row(out, "x11perf -reps per run", cellsFor(r, t, [](size_t, const Measurement &m) {
            return std::to_string(m.repsPerRun);
        }));
    row(out, "operations counted", cellsFor(r, t, [](size_t, const Measurement &m) {
            return std::to_string(m.run.operations());
        }));
    row(out, "main thread CPU (s)", cellsFor(r, t, [](size_t, const Measurement &m) {
            return format("%.3f", m.delta.mainCpuSeconds);
        }));
    row(out, "main thread CPU per op (us)", cellsFor(r, t, [](size_t, const Measurement &m) {
            return format("%.3f", m.microsPerOp(m.delta.mainCpuSeconds));
        }));
    row(out, "process CPU per op (us)", cellsFor(r, t, [](size_t, const Measurement &m) {
            return format("%.3f", m.microsPerOp(m.delta.processCpuSeconds));
        }));
    row(out, "GE ops per GE_SUBMIT", cellsFor(r, t, [](size_t s, const Measurement &m) {
            if (!kServers[s].hasGe)
                return std::string("-");
            return ratioText(static_cast<double>(m.delta.geOps),
                             static_cast<double>(m.delta.geSubmits), "%.2f");
        }));
    row(out, "GE ops per x11perf op", cellsFor(r, t, [](size_t s, const Measurement &m) {
            if (!kServers[s].hasGe)
                return std::string("-");
            return ratioText(static_cast<double>(m.delta.geOps),
                             static_cast<double>(m.run.operations()), "%.2f");
        }));
    out << "  qel Accel on / modesetting: throughput "
        << ratioText(on.run.perSecond(), ms.run.perSecond(), "%.2fx")
        << ", main thread CPU per op "
        << ratioText(on.microsPerOp(on.delta.mainCpuSeconds),
                     ms.microsPerOp(ms.delta.mainCpuSeconds), "%.4f")
        << "\n\n";
}

size_t testIndex(const std::string &name)
{
    return static_cast<size_t>(std::find(kTests.begin(), kTests.end(), name) - kTests.begin());
}

const char *mark(bool met) { return met ? "met" : "NOT MET"; }

bool reportCpuGoal(std::ostream &out, const Results &r)
{
    out << format("1. server main thread CPU per 500x500 fill or copy, qel Accel on at most "
                  "1/%.0f of modesetting's\n",
                  1 / kCpuGoalRatio);
    bool all = true;
    for (const std::string &test : kOffloadedTests) {
        const Measurement &on = r[0][testIndex(test)], &ms = r[2][testIndex(test)];
        double qel = on.microsPerOp(on.delta.mainCpuSeconds);
        double peer = ms.microsPerOp(ms.delta.mainCpuSeconds);
        bool met = peer > 0 && qel <= peer * kCpuGoalRatio;
        all = all && met;
        out << format("   %-15s %10.3f us vs %10.3f us  ratio %-8s %s\n", test.c_str(), qel, peer,
                      ratioText(qel, peer, "%.4f").c_str(), mark(met));
    }
    return all;
}

bool reportThroughputGoal(std::ostream &out, const Results &r)
{
    out << "2. throughput of qel Accel on not below modesetting's on any test\n";
    bool all = true;
    for (size_t t = 0; t < kTests.size(); ++t) {
        double qel = r[0][t].run.perSecond(), peer = r[2][t].run.perSecond();
        bool met = qel >= peer;
        all = all && met;
        out << format("   %-15s %12.1f/s vs %12.1f/s  %-8s %s\n", kTests[t].c_str(), qel, peer,
                      ratioText(qel, peer, "%.2fx").c_str(), mark(met));
    }
    return all;
}

void reportHeader(std::ostream &out, const Timing &timing)
{
    out << "x11perf on the real Xorg, simulated " << kWidth << "x" << kHeight
        << " panel, simulated GE on its worker thread\n"
        << "timing: " << timing.text << " (measured runs: -repeat " << timing.repeat
        << " -reps N, N found for " << timing.seconds << " s per rep unless -reps is given)\n\n"
        << "What is counted. Operations: the sum of x11perf's per-rep counts (reps times the\n"
        << "objects one rep draws) over the measured run. x11perf's own calibration, which\n"
        << "draws an unreported number of operations, is replaced by a fixed -reps found in\n"
        << "earlier runs that are not measured (with -reps x11perf also skips its sync-time\n"
        << "adjustment, a few microseconds per rep of seconds). CPU: run time of the X\n"
        << "server's main thread (/proc/<pid>/task/<pid>/schedstat, nanoseconds) and of all its\n"
        << "threads (which include the simulated GE's worker thread, i.e. the hardware), from\n"
        << "before x11perf starts until it has exited and the GE is idle: so it also covers\n"
        << "x11perf's connection, its window, and the test's setup and cleanup (a small fixed\n"
        << "cost per run).\n\n";
}

void writeReport(const std::string &path, const Timing &timing, const Results &r)
{
    std::ofstream out(path);
    reportHeader(out, timing);
    for (size_t t = 0; t < kTests.size(); ++t)
        reportTest(out, r, t);
    out << "Goals\n";
    bool cpu = reportCpuGoal(out, r);
    bool throughput = reportThroughputGoal(out, r);
    out << "\nsummary: goal 1 " << mark(cpu) << ", goal 2 " << mark(throughput) << "\n";
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string directoryOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

int main(int argc, char **argv)
{
    const std::string path = argc > 1 ? argv[1] : "x11perf.txt";
    try {
        Timing timing = parseTiming(timingWords(argc, argv));
        std::string outDir = directoryOf(path);
        makeDirs(outDir);
        Results results;
        for (const ServerConfig &config : kServers)
            results.push_back(runServer(config, timing, outDir));
        writeReport(path, timing, results);
        std::cout << readFile(path) << "report written to " << path << "\n";
    } catch (const std::exception &e) {
        std::cerr << "bench_x11perf: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
