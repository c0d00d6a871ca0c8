// SPDX-License-Identifier: MIT
// tools/xsim: the real Xorg on the simulated device, for people and scripts.
// See usage.txt.
#include "launch.h"
#include "options.h"
#include "outputs.h"

#include "files.h"
#include "session.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace xsim;

namespace {

constexpr int serverDidNotStart = 2;

std::string prepareOutDir(const Options &options)
{
    if (!options.outDir.empty()) {
        qeltest::makeDirs(options.outDir);
        return options.outDir;
    }
    qeltest::TempDir fresh("xsim");
    fresh.keep();
    std::cerr << "xsim: output in " << fresh.path() << "\n";
    return fresh.path();
}

// Starts the server; on failure says why and leaves its log in outDir.
std::unique_ptr<qeltest::Session> startServer(const Options &options, const std::string &outDir,
                                              std::string &runDir)
{
    auto run = std::make_unique<qeltest::TempDir>("xsim-run");
    runDir = run->path();
    try {
        auto session = testbedFor(options).start(std::move(run));
        armFaults(*session, options);
        return session;
    } catch (const qeltest::XServer::StartFailure &failure) {
        std::cerr << "xsim: the X server did not come up: " << failure.reason << "\n";
        if (qeltest::pathExists(runDir + "/Xorg.log")) {
            qeltest::copyFile(runDir + "/Xorg.log", outDir + "/Xorg.log");
            std::cerr << "xsim: its log: " << outDir << "/Xorg.log\n";
        }
        std::filesystem::remove_all(runDir);
        return nullptr;
    }
}

void finish(qeltest::Session &session, const std::string &runDir, const std::string &outDir)
{
    int status = session.stop();
    if (!WIFEXITED(status))
        std::cerr << "xsim: Xorg " << qeltest::describeStatus(status) << "\n";
    writeServerRecords(runDir, outDir);
}

int runAttached(const Options &options, const std::string &outDir)
{
    std::string runDir;
    auto session = startServer(options, outDir, runDir);
    if (!session)
        return serverDidNotStart;
    std::cerr << "xsim: Xorg with " << options.driver << " on DISPLAY=" << session->display()
              << "\n";
    int status;
    {
        RequestSchedule requests(*session, timedRequests(*session, options));
        status = runCommandOnDisplay(*session, options.command);
    }
    writePanel(*session, outDir);
    finish(*session, runDir, outDir);
    return status;
}

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signo : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, signo);
    return set;
}

// Waits for a stop request (SIGTERM, SIGINT, SIGHUP; blocked since the
// keeper began, so none is lost) or for the server to end by itself, then
// writes the outputs.
void keepServing(qeltest::Session &session, const std::string &runDir, const std::string &outDir)
{
    sigset_t stop = stopSignals();
    int signals = signalfd(-1, &stop, SFD_CLOEXEC);
    pollfd fds[2] = {{signals, POLLIN, 0}, {session.server().pidfd(), POLLIN, 0}};
    while (poll(fds, 2, -1) < 0 && errno == EINTR)
        ;
    if (fds[0].revents)
        writePanel(session, outDir);
    finish(session, runDir, outDir);
}

void detachFromTerminal()
{
    int devnull = open("/dev/null", O_RDWR);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        dup2(devnull, fd);
    close(devnull);
}

// The keeper: a background process that stays the server's parent. The
// foreground process only relays COMMAND's status and returns.
int runKept(const Options &options, const std::string &outDir)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) < 0)
        return serverDidNotStart;
    pid_t keeper = fork();
    if (keeper < 0) {
        std::cerr << "xsim: fork: " << std::strerror(errno) << "\n";
        return serverDidNotStart;
    }
    if (keeper > 0) {
        close(ready[1]);
        unsigned char status;
        return read(ready[0], &status, 1) == 1 ? status : serverDidNotStart;
    }
    close(ready[0]);
    setsid();
    sigset_t stop = stopSignals();
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    std::string runDir;
    auto session = startServer(options, outDir, runDir);
    if (!session)
        _exit(serverDidNotStart);
    auto requests = std::make_unique<RequestSchedule>(*session, timedRequests(*session, options));
    unsigned char status =
        static_cast<unsigned char>(runCommandOnDisplay(*session, options.command));
    std::cerr << "xsim: Xorg with " << options.driver
              << " keeps running on DISPLAY=" << session->display() << "\n"
              << "xsim: stop it with: kill " << getpid() << "   (outputs then go to " << outDir
              << ")\n";
    std::cout << "DISPLAY=" << session->display() << std::endl;
    detachFromTerminal();
    if (write(ready[1], &status, 1) != 1)
        _exit(1);
    close(ready[1]);
    keepServing(*session, runDir, outDir);
    requests.reset();
    session.reset();
    _exit(0);
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const std::invalid_argument &error) {
        std::cerr << "xsim: " << error.what() << "\n";
        return serverDidNotStart;
    }
    if (options.help) {
        std::cout << usageText();
        return 0;
    }
    // The harness chooses the server's paths from QEL_ARCH.
    if (!options.arch.empty())
        setenv("QEL_ARCH", options.arch.c_str(), 1);
    try {
        std::string outDir = prepareOutDir(options);
        return options.keep ? runKept(options, outDir) : runAttached(options, outDir);
    } catch (const std::exception &error) {
        std::cerr << "xsim: " << error.what() << "\n";
        return 1;
    }
}
