// SPDX-License-Identifier: MIT
#include "session.h"

#include "eventually.h"
#include "xcb_client.h"

#include <future>
#include <stdexcept>

namespace qeltest {

Session::Session(const Testbed &testbed, std::unique_ptr<TempDir> run)
    : run_(std::move(run)), sim_(*run_ / "sim.sock")
{
    // A server started by another run at the same moment may take the
    // display number this one chose; that start is tried again.
    for (int attempt = 1;; ++attempt) {
        try {
            server_ = std::make_unique<XServer>(testbed.prepare(*run_));
            return;
        } catch (const XServer::StartFailure &failure) {
            bool displayTaken =
                failure.reason.find("Cannot establish any listening sockets") != std::string::npos;
            if (displayTaken && attempt < 3)
                continue;
            run_->keep();
            throw XServer::StartFailure(failure.reason, run_->path());
        }
    }
}

Session::~Session() = default;

CommandResult Session::run(const std::vector<std::string> &argv,
                           std::chrono::milliseconds timeout) const
{
    return runCommand(argv, {{"DISPLAY", display()}}, timeout);
}

Image Session::capturePanel(int crtcIndex) const
{
    std::string path = *run_ / ("capture-" + std::to_string(crtcIndex) + ".png");
    sim_.capture(crtcIndex, path);
    return readPng(path);
}

Image Session::xwdRoot() const
{
    CommandResult dump = run({"xwd", "-root", "-silent"});
    if (!dump.succeeded())
        throw std::runtime_error("xwd -root failed: " + dump.describe());
    return decodeXwd(dump.out);
}

std::optional<PixelDifference> Session::awaitPanel(const Image &expected, int crtcIndex) const
{
    std::optional<PixelDifference> difference;
    eventually([&] {
        difference = compareImages(expected, capturePanel(crtcIndex));
        return !difference;
    });
    return difference;
}

SimVt Session::switchVt(int vt) const
{
    std::future<SimVt> switched = std::async(std::launch::async, [&] { return sim_.switchVt(vt); });
    XcbClient waker(display());
    while (switched.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        waker.sync();
    return switched.get();
}

int Session::stop()
{
    return server_->stop();
}

std::map<std::string, std::string> Session::simStats() const
{
    SimReply stats;
    std::string text = readFile(*run_ / "sim-stats");
    size_t start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        stats.lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return stats.values();
}

void Session::saveArtifacts(const std::string &dir)
{
    makeDirs(dir);
    if (server_->running()) {
        try {
            sim_.capture(0, dir + "/panel.png");
        } catch (const std::exception &) {
            // The log says more than a missing capture would.
        }
    }
    for (const char *name : {"Xorg.log", "Xorg.log.stderr", "xorg.conf", "sim-stats"})
        if (pathExists(*run_ / name))
            copyFile(*run_ / name, dir + "/" + name);
}

} // namespace qeltest
