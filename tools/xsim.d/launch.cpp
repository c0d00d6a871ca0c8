// SPDX-License-Identifier: MIT
#include "launch.h"

#include "child_process.h"
#include "files.h"

#include <csignal>
#include <stdexcept>

#include <sys/wait.h>

namespace xsim {

qeltest::Testbed testbedFor(const Options &options)
{
    qeltest::Testbed testbed;
    testbed.driver(options.driver).reset(options.reset);
    // Without a GPU the stock driver's glamor needs Mesa's software
    // renderer; plain shadow rendering unless asked for.
    bool accelGiven = false;
    for (const auto &option : options.deviceOptions)
        accelGiven |= option.first == "AccelMethod";
    if (options.driver == "modesetting" && !accelGiven)
        testbed.option("AccelMethod", "none");
    for (const auto &[name, value] : options.deviceOptions)
        testbed.option(name, value);
    if (options.panel)
        testbed.panel(options.panel->first, options.panel->second);
    if (!options.simConfigFile.empty())
        testbed.simDescription(qeltest::readFile(options.simConfigFile));
    for (const auto &device : options.backlights)
        testbed.backlight(device);
    return testbed;
}

void armFaults(const qeltest::Session &session, const Options &options)
{
    for (const auto &[kind, count] : options.faults)
        session.sim().command("fault " + kind + " " + count);
}

std::vector<TimedRequest> timedRequests(const qeltest::Session &session, const Options &options)
{
    std::vector<TimedRequest> requests = options.hotplugs;
    if (options.vtSwitchAfter > 0) {
        const int serverVt = session.sim().vt().server;
        if (serverVt == 0)
            throw std::runtime_error("the server took no VT: --vt-switch-after cannot switch back");
        for (TimedRequest &r : vtSwitchRequests(options.vtSwitchAfter, serverVt))
            requests.push_back(std::move(r));
    }
    return requests;
}

int runCommandOnDisplay(const qeltest::Session &session, const std::vector<std::string> &command)
{
    if (command.empty())
        return 0;
    qeltest::SpawnRequest request{command, {{"DISPLAY", session.display()}}, {}, -1, -1, 0};
    // Like a shell running a command: ^C ends COMMAND (and the server, in the
    // same process group), and xsim goes on to write what is left.
    struct sigaction ignore {
    }, oldInt{}, oldQuit{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &oldInt);
    sigaction(SIGQUIT, &ignore, &oldQuit);
    qeltest::ChildProcess child(request);
    std::optional<int> status;
    while (!(status = child.waitFor(std::chrono::hours(24))))
        ;
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    if (WIFEXITED(*status))
        return WEXITSTATUS(*status);
    return WIFSIGNALED(*status) ? 128 + WTERMSIG(*status) : 1;
}

} // namespace xsim
