// SPDX-License-Identifier: MIT
// Pointer moves on the real Xorg and the simulated 1024x768 panel, with the
// root cursor defined (left_ptr) and the pointer warped by a client: at a
// mouse's rate (500 moves a second, each sent without waiting) and as fast
// as the server answers (a round trip per move). For qel's hardware cursor,
// its software cursor (SWcursor, with TearFree on and off) and the stock
// modesetting driver: moves per second, and per move the cursor ioctls,
// page flips, GE operations and submissions, pixels the GE copied and the
// X server's CPU time. Writes a plain-text report.
//
//   bench_cursor [report-file] [seconds]
#include "cpu_time.h"
#include "session.h"
#include "xcb_client.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace qeltest;

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kMouseRate = 500; // moves a second

// The simulator's counters and the server's CPU time at one moment.
struct Sample {
    std::map<std::string, std::string> counters;
    double mainCpuSeconds = 0, processCpuSeconds = 0;
};

Sample sample(Session &session)
{
    pid_t pid = session.server().pid();
    return {session.sim().counters(), qelbench::mainThreadCpuSeconds(pid),
            qelbench::processCpuSeconds(pid)};
}

struct Setup {
    std::string label;
    std::string driver; // qel or modesetting
    std::vector<std::pair<std::string, std::string>> options;
};

struct Result {
    long moves = 0;
    double seconds = 0;
    Sample before, after; // quiet before the moves, quiet after them

    long counted(const std::string &name) const
    {
        return counterOrZero(after.counters, name) - counterOrZero(before.counters, name);
    }
    double perMove(double total) const
    {
        return moves > 0 ? total / static_cast<double>(moves) : 0;
    }
    double perMove(const std::string &name) const
    {
        return perMove(static_cast<double>(counted(name)));
    }
};

// The n-th point of a path that sweeps the panel, a new place every move.
std::pair<int, int> pathPoint(long n)
{
    return {static_cast<int>(16 + (n * 7) % (kWidth - 32)),
            static_cast<int>(16 + (n * 3 + (n / 97) * 41) % (kHeight - 32))};
}

void warp(XcbClient &x, long n)
{
    auto [px, py] = pathPoint(n);
    xcb_warp_pointer(x.connection(), XCB_NONE, x.root(), 0, 0, 0, 0, static_cast<int16_t>(px),
                     static_cast<int16_t>(py));
}

// Moves until the time is up: paced moves are sent without waiting, one
// every 1/kMouseRate s, as input events would come; otherwise each move is
// a round trip. Returns the number of moves.
long movePointer(XcbClient &x, std::chrono::seconds duration, bool paced)
{
    constexpr auto period = std::chrono::nanoseconds(1'000'000'000 / kMouseRate);
    auto next = std::chrono::steady_clock::now();
    auto end = next + duration;
    long moves = 0;
    while (std::chrono::steady_clock::now() < end) {
        warp(x, moves++);
        if (!paced) {
            x.sync();
            continue;
        }
        xcb_flush(x.connection());
        next += period;
        std::this_thread::sleep_until(next);
    }
    x.sync();
    return moves;
}

std::unique_ptr<Session> startServer(const Setup &setup)
{
    Testbed testbed;
    testbed.panel(kWidth, kHeight).driver(setup.driver);
    for (const auto &[name, value] : setup.options)
        testbed.option(name, value);
    auto session = testbed.start();
    CommandResult cursor = session->run({"xsetroot", "-cursor_name", "left_ptr"});
    if (!cursor.succeeded())
        throw std::runtime_error("xsetroot: " + cursor.describe());
    return session;
}

Result run(const Setup &setup, int seconds, bool paced)
{
    std::unique_ptr<Session> session = startServer(setup);
    XcbClient x(session->display());
    x.fill({0, 0, kWidth, kHeight}, 0x2a5d8c);
    x.sync();
    session->sim().settle(3);
    Result result;
    result.before = sample(*session);
    auto start = std::chrono::steady_clock::now();
    result.moves = movePointer(x, std::chrono::seconds(seconds), paced);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    session->sim().settle(3);
    result.after = sample(*session);
    session->stop();
    return result;
}

void report(std::ostream &out, const Setup &setup, bool paced, const Result &r)
{
    char line[256];
    out << setup.label
        << (paced ? ", 500 moves/s sent without waiting\n" : ", a round trip per move\n");
    std::snprintf(line, sizeof line, "  moves                   %ld in %.2f s: %.0f moves/s\n",
                  r.moves, r.seconds, static_cast<double>(r.moves) / r.seconds);
    out << line;
    std::snprintf(line, sizeof line, "  cursor ioctls per move  %.3f\n",
                  r.perMove("ioctl_MODE_CURSOR") + r.perMove("ioctl_MODE_CURSOR2"));
    out << line;
    std::snprintf(line, sizeof line, "  flips per move          %.3f requested, %.3f completed\n",
                  r.perMove("flips_requested"), r.perMove("flips_completed"));
    out << line;
    std::snprintf(line, sizeof line,
                  "  GE per move             %.3f operations in %.3f submissions\n",
                  r.perMove("ge_ops"), r.perMove("ge_submits"));
    out << line;
    std::snprintf(line, sizeof line, "  GE pixels per move      %.0f copied, %.0f filled\n",
                  r.perMove("ge_pixels_copied"), r.perMove("ge_pixels_filled"));
    out << line;
    std::snprintf(line, sizeof line,
                  "  X server CPU per move   %.1f us main thread, %.1f us whole process\n",
                  1e6 * r.perMove(r.after.mainCpuSeconds - r.before.mainCpuSeconds),
                  1e6 * r.perMove(r.after.processCpuSeconds - r.before.processCpuSeconds));
    out << line;
    std::snprintf(line, sizeof line, "  buffer memory           %ld bytes (every dumb buffer)\n",
                  counterOrZero(r.after.counters, "live_dumb_bytes"));
    out << line;
}

const std::vector<Setup> kSetups = {
    {"qel, hardware cursor (defaults)", "qel", {}},
    {"qel, software cursor (SWcursor on), TearFree on", "qel", {{"SWcursor", "on"}}},
    {"qel, software cursor (SWcursor on), TearFree off",
     "qel",
     {{"SWcursor", "on"}, {"TearFree", "off"}}},
    {"modesetting (stock driver, for reference)", "modesetting", {}},
};

void writeNotes(std::ostream &out)
{
    out << "Notes\n"
           "- Each run starts a server, defines the root cursor with xsetroot -cursor_name\n"
           "  left_ptr, fills the screen, waits until the device is quiet and then moves the\n"
           "  pointer (XWarpPointer) to a new place every move; the figures are taken from quiet\n"
           "  to quiet, so the flips and GE work a move causes are counted even when they land\n"
           "  after the last move.\n"
           "- The hardware cursor costs one cursor ioctl per move (the kernel moves the cursor\n"
           "  plane) and nothing else. The software cursor draws the pointer into the screen:\n"
           "  every move damages the old and the new place, which the server redraws and, with\n"
           "  TearFree, the driver copies into the display's buffers and flips.\n"
           "- At 500 moves/s the moves come faster than the 60 Hz display; the software cursor\n"
           "  with TearFree flips once per vblank for as long as the pointer moves.\n"
           "- Timing (moves/s, CPU per move) depends on the machine: on a shared, loaded machine\n"
           "  treat it as indicative only; the counts per move do not depend on it.\n";
}

} // namespace

int main(int argc, char **argv)
{
    const std::string path = argc > 1 ? argv[1] : "cursor-bench.txt";
    const int seconds = argc > 2 ? std::stoi(argv[2]) : 2;
    try {
        std::ofstream out(path);
        out << "Pointer moves with the root cursor defined, " << kWidth << "x" << kHeight
            << " panel, simulated vblank 60 Hz, " << seconds << " s of moves per run\n\n";
        for (bool paced : {true, false}) {
            for (const Setup &setup : kSetups) {
                report(out, setup, paced, run(setup, seconds, paced));
                out << "\n";
            }
        }
        writeNotes(out);
        out.close();
        std::cout << "report written to " << path << "\n";
    } catch (const std::exception &e) {
        std::cerr << "bench_cursor: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
