// SPDX-License-Identifier: MIT
#include "command.h"

#include "child_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qeltest {

namespace {

// Appends what is readable; false once the writer has closed its end.
bool drainInto(int fd, std::string &sink)
{
    char buffer[4096];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0)
        sink.append(buffer, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

void collectOutput(Pipe &out, Pipe &err, CommandResult &result,
                   std::chrono::steady_clock::time_point deadline)
{
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        pollfd fds[2] = {{outOpen ? out.read : -1, POLLIN, 0},
                         {errOpen ? err.read : -1, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            outOpen = drainInto(out.read, result.out);
        if (fds[1].revents)
            errOpen = drainInto(err.read, result.err);
    }
}

} // namespace

bool CommandResult::succeeded() const
{
    return WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
}

std::string CommandResult::describe() const
{
    return describeStatus(waitStatus) + "\n--- stdout ---\n" + out + "--- stderr ---\n" + err;
}

CommandResult runCommand(const std::vector<std::string> &argv,
                         const std::map<std::string, std::string> &env,
                         std::chrono::milliseconds timeout)
{
    Pipe out, err;
    SpawnRequest request{argv, env, {}, out.write, err.write, -1};
    ChildProcess child(request);
    out.closeWrite();
    err.closeWrite();
    CommandResult result;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    collectOutput(out, err, result, deadline);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    auto status = child.waitFor(std::max(left, std::chrono::milliseconds(0)));
    if (!status) {
        child.signal(SIGKILL);
        status = child.waitFor(std::chrono::seconds(10));
        result.err += "\n[killed after " + std::to_string(timeout.count()) + " ms]\n";
    }
    result.waitStatus = status.value_or(-1);
    return result;
}

} // namespace qeltest
