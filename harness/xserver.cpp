// SPDX-License-Identifier: MIT
#include "xserver.h"

#include "files.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace qeltest {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds timeLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

} // namespace

std::string logTail(const std::string &path, size_t lines)
{
    std::string text;
    try {
        text = readFile(path);
    } catch (const std::exception &) {
        return "(no log at " + path + ")";
    }
    size_t pos = text.size();
    for (size_t n = 0; n <= lines && pos != std::string::npos && pos > 0; ++n)
        pos = text.rfind('\n', pos - 1);
    return pos == std::string::npos ? text : text.substr(pos + 1);
}

std::vector<std::string> XServer::commandLine(int displayFd) const
{
    std::vector<std::string> argv = {launch_.xorg,
                                     "-config",
                                     launch_.configFile,
                                     "-configdir",
                                     launch_.configDir,
                                     "-logfile",
                                     launch_.logFile,
                                     "-nolisten",
                                     "tcp",
                                     "-displayfd",
                                     std::to_string(displayFd)};
    if (launch_.noReset)
        argv.push_back("-noreset");
    argv.insert(argv.end(), launch_.extraArgs.begin(), launch_.extraArgs.end());
    return emulatedCommand(launch_.emulation, launch_.env, argv);
}

XServer::XServer(const XServerLaunch &launch) : launch_(launch)
{
    Pipe pipe;
    // The server's own stderr repeats its log; keep it beside the log.
    int output =
        open((launch_.logFile + ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    SpawnRequest request{commandLine(pipe.write),
                         hostEnvironment(launch_.emulation, launch_.env),
                         {pipe.write},
                         output,
                         output,
                         -1};
    child_ = std::make_unique<ChildProcess>(request);
    pipe.closeWrite();
    if (output >= 0)
        close(output);
    auto number = readDisplayNumber(pipe.read);
    if (!number) {
        std::string why = child_->running()
                              ? "did not accept clients within " +
                                    std::to_string(launch_.startTimeout.count()) + " ms"
                              : describeStatus(*child_->status());
        stop(std::chrono::seconds(10));
        throw StartFailure("Xorg " + why + "; its log ends:\n" + logTail(launch_.logFile));
    }
    display_ = *number;
}

// The server writes its display number and a newline once it accepts
// clients; end of file first means it died.
std::optional<int> XServer::readDisplayNumber(int fd)
{
    auto deadline = Clock::now() + launch_.startTimeout;
    std::string text;
    while (text.find('\n') == std::string::npos) {
        pollfd pfd{fd, POLLIN, 0};
        int ready = poll(&pfd, 1, static_cast<int>(timeLeft(deadline).count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char buffer[32];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return std::nullopt;
        text.append(buffer, static_cast<size_t>(n));
    }
    return std::atoi(text.c_str());
}

XServer::~XServer()
{
    if (child_)
        stop(std::chrono::seconds(10));
}

std::string XServer::log() const
{
    return readFile(launch_.logFile);
}

int XServer::stop(std::chrono::milliseconds timeout)
{
    if (auto status = child_->status())
        return *status;
    child_->signal(SIGTERM);
    if (auto status = child_->waitFor(timeout))
        return *status;
    child_->signal(SIGKILL);
    return child_->waitFor(std::chrono::seconds(10)).value_or(-1);
}

std::optional<int> XServer::waitForExit(std::chrono::milliseconds timeout)
{
    return child_->waitFor(timeout);
}

int runXServerToExit(const XServerLaunch &launch)
{
    SpawnRequest request;
    request.setEnv = hostEnvironment(launch.emulation, launch.env);
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    // -displayfd makes the server take a free display: another server on :0
    // must not end this one early for a reason of its own.
    std::vector<std::string> argv = {launch.xorg,
                                     "-config",
                                     launch.configFile,
                                     "-configdir",
                                     launch.configDir,
                                     "-logfile",
                                     launch.logFile,
                                     "-nolisten",
                                     "tcp",
                                     "-displayfd",
                                     std::to_string(devnull)};
    argv.insert(argv.end(), launch.extraArgs.begin(), launch.extraArgs.end());
    request.argv = emulatedCommand(launch.emulation, launch.env, argv);
    request.keepFds = {devnull};
    request.stdoutFd = request.stderrFd = devnull;
    ChildProcess child(request);
    close(devnull);
    auto status = child.waitFor(launch.startTimeout);
    if (!status) {
        child.signal(SIGKILL);
        status = child.waitFor(std::chrono::seconds(10));
    }
    return status.value_or(-1);
}

} // namespace qeltest
