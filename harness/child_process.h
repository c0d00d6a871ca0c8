// SPDX-License-Identifier: MIT
// A child process this process stays the parent of, so that it can be waited
// for (through a pidfd, never by sleeping) and never lingers as an orphan.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace qeltest {

struct SpawnRequest {
    std::vector<std::string> argv;
    std::map<std::string, std::string> setEnv; // added to or replacing ours
    std::vector<int> keepFds;                  // passed through (CLOEXEC cleared)
    int stdoutFd = -1;                         // -1: inherit
    int stderrFd = -1;
    int stdinFd = -1; // -1: /dev/null
};

class ChildProcess {
public:
    explicit ChildProcess(const SpawnRequest &request);
    ~ChildProcess(); // kills and reaps a child still running
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return pid_; }
    int pidfd() const { return pidfd_; }
    bool running();
    // The wait status once the child has ended within the timeout.
    std::optional<int> waitFor(std::chrono::milliseconds timeout);
    void signal(int signo);
    std::optional<int> status() const { return status_; }

private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
    std::optional<int> status_;

    bool reap(int flags);
};

// A close-on-exec pipe for talking with a child: the child gets the write
// end (SpawnRequest), the parent closes its copy once the child has it, so
// that reading ends when the child is gone.
struct Pipe {
    int read = -1;
    int write = -1;
    Pipe();
    ~Pipe();
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
    void closeWrite();
};

// "exited with 1", "killed by signal 11": for messages.
std::string describeStatus(int waitStatus);

} // namespace qeltest
