// SPDX-License-Identifier: MIT
// Real applications' drawing, replayed with cairo-perf-trace on the real
// Xorg and the simulated 1024x768 panel: qel with its defaults, with
// TearFree off and with Accel off, the stock modesetting driver, and cairo
// rendering in the client's own memory (image, no server). Per trace and
// target: the replay's time, the server main thread's CPU time (the
// simulated GE's thread is the hardware, left out), and from the simulator
// the dumb buffers made, GE submits and waits and the pixels the GE filled
// and copied. The report (cairo_traces_report.cpp) compares qel's defaults
// with the better of Accel off and modesetting.
//
//   bench_cairo_traces report-file trace-dir [--ge thread|sync] [--rounds N]
//                      [trace...]
//
// trace-dir holds the traces as t-NAME.lzma; a trace is named NAME or
// t-NAME. Each round runs every trace once on every target (cairo-perf-trace
// -i 3, its median replay), one trace after the other, the order of the
// targets turning from round to round; 5 rounds unless --rounds says.
#include "cairo_traces_run.h"
#include "cpu_time.h"
#include "files.h"
#include "session.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <iostream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace qeltest;
using namespace qelbench;

namespace {

std::string device(const std::string &geMode)
{
    return "[device]\nnodes = /dev/dri/card0\nge = " + geMode +
           "\n[crtc]\n[connector]\ntype = eDP\ntype_id = 1\nstatus = connected\nmodes = "
           "1024x768@60\n";
}

// The first is what the report judges; image is the client by itself.
const std::vector<ServerConfig> kTargets = {
    {"defaults", "qel defaults", "qel", {}, true},
    {"tearfree-off", "qel TearFree off", "qel", {{"TearFree", "off"}}, true},
    {"accel-off", "qel Accel off", "qel", {{"Accel", "off"}}, false},
    {"modesetting", "modesetting", "modesetting", {{"AccelMethod", "none"}}, false},
    {"image", "client image", "", {}, false},
};

struct Options {
    std::string report;
    std::string traceDir;
    std::string geMode = "thread";
    int rounds = 5;
    std::vector<std::string> traces;
};

Options parseOptions(int argc, char **argv)
{
    if (argc < 3)
        throw std::runtime_error("usage: bench_cairo_traces report-file trace-dir [--ge "
                                 "thread|sync] [--rounds N] [trace...]");
    Options o{argv[1], argv[2], "thread", 5, {}};
    for (int i = 3; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--ge" && i + 1 < argc)
            o.geMode = argv[++i];
        else if (arg == "--rounds" && i + 1 < argc)
            o.rounds = std::max(1, std::stoi(argv[++i]));
        else
            o.traces.push_back(arg.rfind("t-", 0) == 0 ? arg : "t-" + arg);
    }
    if (o.geMode != "thread" && o.geMode != "sync")
        throw std::runtime_error("--ge takes thread or sync");
    return o;
}

std::vector<std::string> allTraces(const std::string &dir)
{
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR *)> d(opendir(dir.c_str()), closedir);
    if (!d)
        throw std::runtime_error("no trace folder " + dir);
    while (dirent *e = readdir(d.get())) {
        std::string file = e->d_name;
        if (file.size() > 5 && file.compare(file.size() - 5, 5, ".lzma") == 0)
            names.push_back(file.substr(0, file.size() - 5));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The traces unpacked beside the report, once.
std::string unpack(const std::string &traceDir, const std::string &workDir,
                   const std::string &trace)
{
    std::string out = workDir + "/" + trace + ".trace";
    if (pathExists(out))
        return out;
    CommandResult r = runCommand({"sh", "-c", "xz -dc --format=lzma \"$0\" > \"$1\"",
                                  traceDir + "/" + trace + ".lzma", out});
    if (!r.succeeded())
        throw std::runtime_error("cannot unpack " + trace + ": " + r.describe());
    return out;
}

// "[  0]     xlib         t-gnome-terminal-vim    1.326    1.392   2.41%    2/2"
double replaySeconds(const std::string &out, const std::string &trace)
{
    std::regex line(R"(\]\s+\S+\s+)" + trace + R"(\s+([\d.]+)\s+([\d.]+))");
    std::smatch m;
    if (!std::regex_search(out, m, line))
        throw std::runtime_error("cairo-perf-trace reported no time for " + trace + ":\n" + out);
    return std::stod(m[2]);
}

Replay counted(Session &session)
{
    auto c = session.sim().counters();
    Replay r;
    r.mainCpuSeconds = mainThreadCpuSeconds(session.server().pid());
    r.buffersCreated = counterOrZero(c, "dumb_buffers_created");
    r.geSubmits = counterOrZero(c, "ge_submits");
    r.geWaits = counterOrZero(c, "ioctl_GE_WAIT");
    r.pixelsFilled = counterOrZero(c, "ge_pixels_filled");
    r.pixelsCopied = counterOrZero(c, "ge_pixels_copied");
    return r;
}

Replay difference(const Replay &after, const Replay &before)
{
    Replay d = after;
    d.mainCpuSeconds -= before.mainCpuSeconds;
    d.buffersCreated -= before.buffersCreated;
    d.geSubmits -= before.geSubmits;
    d.geWaits -= before.geWaits;
    d.pixelsFilled -= before.pixelsFilled;
    d.pixelsCopied -= before.pixelsCopied;
    return d;
}

const char *const kGivenUp = "; drawing without it from now on";

// cairo-perf-trace replays each trace this often per run and reports the
// median; the counts below are per replay.
constexpr int kIterations = 3;

Replay perIteration(Replay r)
{
    r.mainCpuSeconds /= kIterations;
    r.buffersCreated /= kIterations;
    r.geSubmits /= kIterations;
    r.geWaits /= kIterations;
    r.pixelsFilled /= kIterations;
    r.pixelsCopied /= kIterations;
    return r;
}

// One run of the trace; a server's GE is idle before and after it, so
// that the work the trace queued is charged to it and none before.
Replay replay(Session *session, const std::string &file, const std::string &trace)
{
    const std::vector<std::string> argv = {"cairo-perf-trace", "-i", std::to_string(kIterations),
                                           file};
    if (!session) {
        CommandResult r =
            runCommand(argv, {{"CAIRO_TEST_TARGET", "image"}}, std::chrono::minutes(10));
        if (!r.succeeded())
            throw std::runtime_error("image replay of " + trace + " failed: " + r.describe());
        Replay image;
        image.seconds = replaySeconds(r.out, trace);
        return image;
    }
    session->sim().command("ge-idle");
    Replay before = counted(*session);
    CommandResult r =
        session->run({"env", "CAIRO_TEST_TARGET=xlib", argv[0], argv[1], argv[2], argv[3]},
                     std::chrono::minutes(10));
    if (!r.succeeded())
        throw std::runtime_error("replay of " + trace + " failed: " + r.describe());
    session->sim().command("ge-idle");
    Replay d = perIteration(difference(counted(*session), before));
    d.seconds = replaySeconds(r.out, trace);
    d.geGivenUp = session->log().find(kGivenUp) != std::string::npos;
    return d;
}

ServerSummary summaryOf(const std::string &log)
{
    static const std::regex said(R"(GE: ([0-9]+) pixmaps moved into buffers .* at most ([0-9]+) )"
                                 R"(bytes kept; system memory kept: at most ([0-9]+) bytes)");
    ServerSummary s;
    std::smatch m;
    if (std::regex_search(log, m, said)) {
        s.movesToBuffer = std::stol(m[1]);
        s.cachePeakBytes = std::stol(m[2]);
        s.memoryPeakBytes = std::stol(m[3]);
    }
    s.geGivenUp = log.find(kGivenUp) != std::string::npos;
    return s;
}

ReplayComparison runAll(const Options &o)
{
    ReplayComparison c{
        o.geMode, o.rounds, kTargets, o.traces.empty() ? allTraces(o.traceDir) : o.traces, {}, {}};
    std::string workDir = o.report.substr(0, o.report.rfind('/')) + "/cairo-traces";
    makeDirs(workDir);
    std::vector<std::string> files;
    for (const std::string &trace : c.traces)
        files.push_back(unpack(o.traceDir, workDir, trace));

    std::vector<std::unique_ptr<Session>> sessions;
    for (const ServerConfig &t : c.targets)
        sessions.push_back(t.driver.empty() ? nullptr : startBenchServer(t, device(o.geMode)));
    size_t n = c.targets.size();
    std::vector<std::vector<std::vector<Replay>>> rounds(
        n, std::vector<std::vector<Replay>>(files.size()));
    // Every target replays a trace before the next trace comes, so that a
    // change of load on the machine falls on all of them alike.
    for (int r = 0; r < o.rounds; ++r) {
        std::cout << "round " << r + 1 << ":" << std::flush;
        for (size_t f = 0; f < files.size(); ++f) {
            std::cout << " " << c.traces[f] << std::flush;
            for (size_t k = 0; k < n; ++k) {
                size_t t = (static_cast<size_t>(r) + k) % n;
                rounds[t][f].push_back(replay(sessions[t].get(), files[f], c.traces[f]));
            }
        }
        std::cout << "\n";
    }
    c.results.resize(n);
    c.summaries.resize(n);
    for (size_t t = 0; t < n; ++t) {
        for (size_t f = 0; f < files.size(); ++f)
            c.results[t].push_back(medianReplay(rounds[t][f]));
        if (sessions[t]) {
            sessions[t]->stop();
            c.summaries[t] = summaryOf(sessions[t]->log());
        }
    }
    return c;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        Options o = parseOptions(argc, argv);
        ReplayComparison comparison = runAll(o);
        std::ofstream out(o.report);
        writeReplayReport(out, comparison);
        if (!out)
            throw std::runtime_error("cannot write " + o.report);
        out.close();
        std::cout << readFile(o.report) << "report written to " << o.report << "\n";
    } catch (const std::exception &e) {
        std::cerr << "bench_cairo_traces: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
