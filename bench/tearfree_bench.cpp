// TearFree under continuous full-screen damage on the real Xorg and the
// simulated 60 Hz panel: flips completed per vblank, pixels the GE copied
// per cycle against the damaged visible area, and the X server's CPU time
// per frame, with TearFree on and off. Writes a plain-text report.
//
//   bench_tearfree [report-file] [seconds]
#include "eventually.h"
#include "session.h"
#include "xcb_client.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace qeltest;

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

struct Sample {
    long vblanks = 0, flipsRequested = 0, flipsCompleted = 0, flipsRejected = 0;
    long pixelsCopied = 0;
    double cpuSeconds = 0;
};

long counterOr0(const std::map<std::string, std::string> &counters, const std::string &name)
{
    auto found = counters.find(name);
    return found == counters.end() ? 0 : std::stol(found->second);
}

// User and system time of the process, from /proc/<pid>/stat.
double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

Sample sample(Session &session)
{
    auto c = session.sim().counters();
    return {counterOr0(c, "vblanks"),        counterOr0(c, "flips_requested"),
            counterOr0(c, "flips_completed"), counterOr0(c, "flips_rejected"),
            counterOr0(c, "ge_pixels_copied"), cpuSeconds(session.server().pid())};
}

struct Result {
    long frames = 0;
    Sample delta;
};

// Fills the whole screen with a new colour, frame after frame, each frame
// waited for, for the given time.
Result animate(Session &session, int seconds)
{
    XcbClient x(session.display());
    Sample before = sample(session);
    Result result;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        x.fill({0, 0, kWidth, kHeight}, static_cast<uint32_t>(result.frames * 0x010203));
        x.sync();
        ++result.frames;
    }
    // Measured before the device settles, so that the quiet vblanks it waits
    // for do not count.
    Sample after = sample(session);
    session.sim().settle(3);
    result.delta = {after.vblanks - before.vblanks,
                    after.flipsRequested - before.flipsRequested,
                    after.flipsCompleted - before.flipsCompleted,
                    after.flipsRejected - before.flipsRejected,
                    after.pixelsCopied - before.pixelsCopied,
                    after.cpuSeconds - before.cpuSeconds};
    return result;
}

void report(std::ostream &out, const std::string &label, const Result &r)
{
    const Sample &d = r.delta;
    const double area = static_cast<double>(kWidth) * kHeight;
    char line[256];
    out << label << "\n";
    std::snprintf(line, sizeof line, "  frames drawn            %ld\n", r.frames);
    out << line;
    std::snprintf(line, sizeof line, "  vblanks                 %ld\n", d.vblanks);
    out << line;
    std::snprintf(line, sizeof line, "  flips completed         %ld (requested %ld, rejected %ld)\n",
                  d.flipsCompleted, d.flipsRequested, d.flipsRejected);
    out << line;
    if (d.vblanks > 0) {
        std::snprintf(line, sizeof line, "  flips per vblank        %.3f   (goal >= 0.98 with TearFree)\n",
                      static_cast<double>(d.flipsCompleted) / static_cast<double>(d.vblanks));
        out << line;
    }
    if (d.flipsRequested > 0) {
        // Every cycle's damage is the whole visible screen.
        std::snprintf(line, sizeof line,
                      "  copied / damaged area   %.4f  (GE pixels copied per cycle over the "
                      "visible damage; goal 1.0)\n",
                      static_cast<double>(d.pixelsCopied) / (static_cast<double>(d.flipsRequested) * area));
        out << line;
        std::snprintf(line, sizeof line, "  GE bytes per flip       %.0f\n",
                      4.0 * static_cast<double>(d.pixelsCopied) / static_cast<double>(d.flipsRequested));
        out << line;
    }
    if (r.frames > 0) {
        std::snprintf(line, sizeof line, "  X server CPU per frame  %.3f ms\n",
                      1000.0 * d.cpuSeconds / static_cast<double>(r.frames));
        out << line;
    }
}

Result run(const std::vector<std::pair<std::string, std::string>> &options, int seconds)
{
    std::unique_ptr<Session> session = startQel(options, kWidth, kHeight);
    if (!eventually([&] { return session->sim().crtcs().at(0).active; }))
        throw std::runtime_error("no mode set");
    session->sim().settle(3);
    Result result = animate(*session, seconds);
    session->stop();
    return result;
}

}  // namespace

int main(int argc, char **argv)
{
    const std::string path = argc > 1 ? argv[1] : "tearfree-bench.txt";
    const int seconds = argc > 2 ? std::stoi(argv[2]) : 5;
    try {
        Result on = run({}, seconds);
        Result off = run({{"TearFree", "off"}}, seconds);
        std::ofstream out(path);
        out << "TearFree under continuous full-screen damage, " << kWidth << "x" << kHeight
            << ", simulated vblank 60 Hz, " << seconds << " s per run\n\n";
        report(out, "TearFree on (Accel on)", on);
        out << "\n";
        report(out, "TearFree off (Accel on)", off);
        out.close();
        std::cout << "report written to " << path << "\n";
    } catch (const std::exception &e) {
        std::cerr << "bench_tearfree: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
