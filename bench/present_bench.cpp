// SPDX-License-Identifier: MIT
// Present's frame timing on the real Xorg with the simulator's vblank clock
// running by itself (each CRTC at its own mode's refresh), for qel with its
// defaults and for the stock modesetting driver: on a 50, a 60 and a 75 Hz
// panel and on two displays of 50 and 75 Hz, a client on each display
// presents a pixmap for every next MSC, as a player pacing its frames does.
// Per display: MSC per second of wall time against the mode's refresh, the
// UST step per MSC against the mode's frame duration, and how many
// presentations completed at their target MSC. Writes a plain-text report.
//
//   bench_present [report-file] [frames]
#include "placements.h"
#include "present_client.h"
#include "session.h"
#include "xcb_client.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace qeltest;

namespace {

// Each goal, in percent of the mode's own figure.
constexpr double kRateTolerance = 0.5;

struct Layout {
    std::string label;
    std::string description;
    int displays;
};

const std::vector<Layout> kLayouts = {
    {"1024x768@50 panel", "[crtc]\n[connector]\ntype = eDP\nmodes = 1024x768@50\n", 1},
    {"1024x768@60 panel", "[crtc]\n[connector]\ntype = eDP\nmodes = 1024x768@60\n", 1},
    {"1024x768@75 panel", "[crtc]\n[connector]\ntype = eDP\nmodes = 1024x768@75\n", 1},
    {"two displays, 1024x768@50 and 1024x768@75",
     "[crtc]\n[crtc]\n[connector]\ntype = eDP\nmodes = 1024x768@50\n"
     "[connector]\ntype = HDMI-A\nmodes = 1024x768@75\n",
     2},
};

struct Driver {
    std::string label;
    std::string name;
};

const std::vector<Driver> kDrivers = {
    {"qel (defaults: Accel, TearFree)", "qel"},
    {"modesetting (AccelMethod none, for reference)", "modesetting"},
};

struct DisplayResult {
    int crtc = -1;
    std::string output;
    double refreshHz = 0, frameUs = 0; // the mode's own, as the kernel computes them
    long frames = 0, onTarget = 0;
    double mscPerSecond = 0, ustStepUs = 0;
    std::string error;
};

double seconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// One client on the display: a frame for every next MSC, each waited for.
// The rates run from the first completion to the last, so that both ends
// are taken at the same point of a frame.
DisplayResult paceFrames(const Session &session, const Placement &display, long frames)
{
    DisplayResult r;
    r.crtc = display.crtc;
    r.output = display.output;
    XcbClient x(session.display());
    PresentClient present(x, {display.x, display.y, display.width, display.height});
    const uint32_t pixmaps[2] = {present.filledPixmap(0x203040), present.filledPixmap(0x405060)};
    PresentCompletion last = present.now(), first;
    std::chrono::steady_clock::time_point firstAt, lastAt;
    for (long i = 0; i < frames; ++i) {
        const uint64_t target = last.msc + 1;
        const PresentCompletion done = present.await(present.presentAt(pixmaps[i % 2], target));
        lastAt = std::chrono::steady_clock::now();
        if (i == 0) {
            first = done;
            firstAt = lastAt;
        }
        r.onTarget += done.msc == target;
        last = done;
    }
    r.frames = frames;
    const double mscs = static_cast<double>(last.msc - first.msc);
    if (mscs > 0) {
        r.mscPerSecond = mscs / seconds(firstAt, lastAt);
        r.ustStepUs = static_cast<double>(last.ust - first.ust) / mscs;
    }
    return r;
}

std::vector<DisplayResult> run(const Driver &driver, const Layout &layout, long frames)
{
    Testbed testbed;
    testbed.simDescription(layout.description);
    if (driver.name == "modesetting")
        testbed.driver("modesetting").option("AccelMethod", "none");
    std::unique_ptr<Session> session = testbed.start();
    std::vector<Placement> displays;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (static_cast<int>((displays = litDisplays(*session)).size()) < layout.displays) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("not every display lit");
        std::this_thread::yield();
    }
    std::vector<DisplayResult> results(displays.size());
    std::vector<std::thread> clients;
    for (size_t i = 0; i < displays.size(); ++i)
        clients.emplace_back([&, i] {
            try {
                results[i] = paceFrames(*session, displays[i], frames);
            } catch (const std::exception &e) {
                results[i].crtc = displays[i].crtc;
                results[i].error = e.what();
            }
        });
    for (std::thread &client : clients)
        client.join();
    std::vector<SimCrtc> crtcs = session->sim().crtcs();
    for (DisplayResult &r : results) {
        const double frameNs =
            r.crtc >= 0 ? static_cast<double>(crtcs.at(static_cast<size_t>(r.crtc)).frameNs) : 0;
        r.frameUs = frameNs / 1000.0;
        r.refreshHz = frameNs > 0 ? 1e9 / frameNs : 0;
    }
    session->stop();
    return results;
}

double deviation(double measured, double expected)
{
    return expected > 0 ? 100.0 * (measured - expected) / expected : 0;
}

bool meetsGoals(const DisplayResult &r)
{
    return r.error.empty() && r.frames > 0 && r.onTarget == r.frames &&
           std::fabs(deviation(r.mscPerSecond, r.refreshHz)) <= kRateTolerance &&
           std::fabs(deviation(r.ustStepUs, r.frameUs)) <= kRateTolerance;
}

void report(std::ostream &out, const DisplayResult &r)
{
    char line[256];
    std::snprintf(line, sizeof line, "  %s on CRTC %d: mode refresh %.3f Hz, frame %.1f us\n",
                  r.output.c_str(), r.crtc, r.refreshHz, r.frameUs);
    out << line;
    if (!r.error.empty()) {
        out << "    failed: " << r.error << "\n";
        return;
    }
    std::snprintf(line, sizeof line, "    MSC per second          %.3f (%+.3f %%)\n",
                  r.mscPerSecond, deviation(r.mscPerSecond, r.refreshHz));
    out << line;
    std::snprintf(line, sizeof line, "    UST step per MSC        %.1f us (%+.3f %%)\n",
                  r.ustStepUs, deviation(r.ustStepUs, r.frameUs));
    out << line;
    std::snprintf(
        line, sizeof line, "    at their target MSC     %ld of %ld PresentPixmap (%.1f %%)\n",
        r.onTarget, r.frames,
        r.frames ? 100.0 * static_cast<double>(r.onTarget) / static_cast<double>(r.frames) : 0.0);
    out << line;
    out << "    goals                   " << (meetsGoals(r) ? "met" : "MISSED") << "\n";
}

void writeNotes(std::ostream &out)
{
    out << "Notes\n"
           "- Each display has a client of its own (its own connection, a window covering the\n"
           "  display) that presents a whole-window pixmap for the MSC after the last one\n"
           "  completed, waiting for each completion: a frame a vblank when it keeps up.\n"
           "- The mode's refresh and frame duration are the kernel's (pixel clock over htotal x\n"
           "  vtotal) for the CVT modes described, e.g. 49.98 Hz for 1024x768@50.\n"
           "- MSC per second is wall time: on a loaded machine the server may miss a vblank, a\n"
           "  presentation then completes after its target, and the count still holds. The UST\n"
           "  step comes from the kernel's timestamps and does not depend on the load.\n"
           "- Goals: MSC per second and UST step within 0.5 % of the mode's, every\n"
           "  PresentPixmap completing at its target MSC. Run on an otherwise idle machine.\n";
}

} // namespace

int main(int argc, char **argv)
{
    const std::string path = argc > 1 ? argv[1] : "present-bench.txt";
    const long frames = argc > 2 ? std::stol(argv[2]) : 600;
    try {
        std::ofstream out(path);
        out << "Present timing, the simulated vblank clock running per CRTC, " << frames
            << " frames per display\n\n";
        bool allMet = true;
        for (const Driver &driver : kDrivers) {
            for (const Layout &layout : kLayouts) {
                out << driver.label << ", " << layout.label << "\n";
                for (const DisplayResult &r : run(driver, layout, frames)) {
                    report(out, r);
                    allMet = allMet && meetsGoals(r);
                }
                out << "\n";
                out.flush();
            }
        }
        out << "Every goal met: " << (allMet ? "yes" : "no") << "\n\n";
        writeNotes(out);
        out.close();
        std::cout << "report written to " << path << "\n";
    } catch (const std::exception &e) {
        std::cerr << "bench_present: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
