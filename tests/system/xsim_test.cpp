// SPDX-License-Identifier: MIT
// tools/xsim's contract with the scripts built on it: COMMAND runs on the
// server's display, its status becomes xsim's, and the output folder holds
// the log, the panel and the simulator's final counters. Runs on the stock
// modesetting driver so that it does not depend on qel's progress.
#include "command.h"
#include "files.h"
#include "image.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qeltest;

namespace {

std::string xsimProgram()
{
    const char *path = std::getenv("QEL_XSIM");
    return path ? path : "qel-xsim";
}

CommandResult xsim(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {xsimProgram()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv);
}

std::map<std::string, std::string> keyValues(const std::string &text)
{
    std::map<std::string, std::string> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos)
            out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

class Xsim : public ::testing::Test {
protected:
    TempDir out{"xsim-test"};
};

TEST_F(Xsim, RunsTheCommandOnTheServerAndWritesItsOutputs)
{
    // Fill the panel through an X client so that panel.png has something to show.
    CommandResult run = xsim({"--driver", "modesetting", "--panel", "800x600", "--out", out.path(),
                              "--", "sh", "-c",
                              "xrandr --query | grep -q 'connected primary 800x600' && "
                              "xsetroot -solid '#3366cc' && exit 7"});
    ASSERT_TRUE(WIFEXITED(run.waitStatus)) << run.describe();
    EXPECT_EQ(WEXITSTATUS(run.waitStatus), 7) << run.describe();

    EXPECT_NE(readFile(out / "Xorg.log").find("modesetting"), std::string::npos);
    Image panel = readPng(out / "panel.png");
    ASSERT_EQ(panel.width, 800);
    ASSERT_EQ(panel.height, 600);
    EXPECT_EQ(panel.at(0, 0), 0x3366ccu);
    EXPECT_EQ(panel.at(799, 599), 0x3366ccu);

    auto stats = keyValues(readFile(out / "sim-stats"));
    for (const char *key :
         {"live_dumb_buffers", "live_framebuffers", "ge_submits", "ge_ops", "ge_rejected_ops",
          "flips_requested", "flips_completed", "flips_rejected", "vblanks", "setcrtc_calls"})
        EXPECT_TRUE(stats.count(key)) << "sim-stats lacks " << key;
    EXPECT_EQ(stats["live_framebuffers"], "0");
    EXPECT_EQ(stats["live_dumb_buffers"], "0");
}

// Waits for a process that is not our child to end.
bool waitForProcessExit(pid_t pid, std::chrono::milliseconds timeout)
{
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return errno == ESRCH;
    pollfd pfd{fd, POLLIN, 0};
    int ready = poll(&pfd, 1, static_cast<int>(timeout.count()));
    close(fd);
    return ready > 0;
}

TEST_F(Xsim, KeepLeavesTheServerRunningUntilStopped)
{
    CommandResult run = xsim({"--driver", "modesetting", "--keep", "--out", out.path(), "--",
                              "xsetroot", "-solid", "#00ff00"});
    ASSERT_TRUE(run.succeeded()) << run.describe();
    std::smatch display, keeper;
    ASSERT_TRUE(std::regex_search(run.out, display, std::regex("DISPLAY=(:[0-9]+)")))
        << run.describe();
    ASSERT_TRUE(std::regex_search(run.err, keeper, std::regex("kill ([0-9]+)"))) << run.describe();
    pid_t keeperPid = std::stoi(keeper[1]);
    // A failed assertion below must not leave the server behind.
    struct StopOnExit {
        pid_t pid;
        ~StopOnExit()
        {
            if (pid > 0 && kill(pid, SIGTERM) == 0)
                waitForProcessExit(pid, std::chrono::seconds(30));
        }
    } stopOnExit{keeperPid};

    CommandResult query = runCommand({"xdpyinfo"}, {{"DISPLAY", display[1]}});
    EXPECT_TRUE(query.succeeded()) << query.describe();
    EXPECT_FALSE(pathExists(out / "sim-stats")) << "outputs written before the server stopped";

    ASSERT_EQ(kill(keeperPid, SIGTERM), 0);
    ASSERT_TRUE(waitForProcessExit(keeperPid, std::chrono::seconds(30)));
    stopOnExit.pid = -1;
    EXPECT_EQ(readPng(out / "panel.png").at(10, 10), 0x00ff00u);
    EXPECT_NE(readFile(out / "sim-stats").find("setcrtc_calls="), std::string::npos);
    EXPECT_NE(readFile(out / "Xorg.log").find("Server terminated successfully"), std::string::npos);
}

TEST_F(Xsim, ReportsAServerThatDoesNotComeUp)
{
    // A simulator answering another node leaves the server without a device.
    writeFile(out / "elsewhere.conf", "[device]\nnodes = /dev/dri/card9\n[crtc]\n[connector]\n"
                                      "status = connected\nmodes = 1024x768@60\n");
    CommandResult run = xsim({"--driver", "modesetting", "--sim-config", out / "elsewhere.conf",
                              "--out", out.path(), "--", "touch", out / "ran"});
    ASSERT_TRUE(WIFEXITED(run.waitStatus)) << run.describe();
    EXPECT_EQ(WEXITSTATUS(run.waitStatus), 2) << run.describe();
    EXPECT_NE(run.err.find("the X server did not come up"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("no screens found"), std::string::npos) << run.err;
    EXPECT_FALSE(pathExists(out / "ran"));
    EXPECT_NE(readFile(out / "Xorg.log").find("no screens found"), std::string::npos);
}

// --vt-switch-after takes the console away from the server's VT and back:
// the server's own record of it, the root window's XFree86_has_VT, goes
// to 0 and then to 1 while COMMAND watches it.
TEST_F(Xsim, VtSwitchAfterTakesTheConsoleAwayAndBack)
{
    CommandResult run = xsim({"--driver", "modesetting", "--vt-switch-after", "0.5", "--out",
                              out.path(), "--", "timeout", "60", "sh", "-c",
                              "hasVt() { xprop -root XFree86_has_VT | grep -q \"= $1$\"; }; "
                              "until hasVt 0; do :; done; until hasVt 1; do :; done"});
    EXPECT_TRUE(run.succeeded()) << run.describe();
    EXPECT_EQ(run.err.find("xsim: vt"), std::string::npos) << run.err;
}

// Help is for someone who has not built anything yet: the script prints the
// launcher's text at once and leaves the build directory alone.
TEST_F(Xsim, ScriptPrintsHelpWithoutBuilding)
{
    const char *script = std::getenv("QEL_XSIM_SCRIPT");
    ASSERT_NE(script, nullptr) << "QEL_XSIM_SCRIPT names tools/xsim";
    std::string unbuilt = out / "never-built";
    CommandResult help = runCommand({script, "--help"}, {{"QEL_BUILD", unbuilt}});
    ASSERT_TRUE(help.succeeded()) << help.describe();
    EXPECT_FALSE(pathExists(unbuilt)) << "--help set up a build";
    EXPECT_EQ(help.out, xsim({"--help"}).out);
}

// The script runs the launcher of the build it names: the launcher's answer
// to a bad argument reaches the caller with its status.
TEST_F(Xsim, ScriptRunsTheLauncherOfItsBuild)
{
    const char *script = std::getenv("QEL_XSIM_SCRIPT");
    ASSERT_NE(script, nullptr) << "QEL_XSIM_SCRIPT names tools/xsim";
    ASSERT_NE(std::getenv("QEL_BUILD"), nullptr) << "QEL_BUILD names the build of QEL_XSIM";
    CommandResult run = runCommand({script, "--panel", "wide"}, {{"QEL_ARCH", "native"}});
    ASSERT_TRUE(WIFEXITED(run.waitStatus)) << run.describe();
    EXPECT_EQ(WEXITSTATUS(run.waitStatus), 2) << run.describe();
    EXPECT_NE(run.err.find("--panel wants WIDTHxHEIGHT"), std::string::npos) << run.describe();
}

TEST_F(Xsim, RejectsBadArguments)
{
    CommandResult run = xsim({"--panel", "wide"});
    EXPECT_EQ(WEXITSTATUS(run.waitStatus), 2);
    EXPECT_NE(run.err.find("--panel wants WIDTHxHEIGHT"), std::string::npos) << run.err;
}

} // namespace
