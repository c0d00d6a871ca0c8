// SPDX-License-Identifier: MIT
#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace qeltest {

namespace {

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string> &set)
{
    std::vector<std::string> env;
    for (char **entry = environ; *entry; ++entry) {
        std::string text(*entry);
        std::string name = text.substr(0, text.find('='));
        if (!set.count(name))
            env.push_back(text);
    }
    for (const auto &[name, value] : set)
        env.push_back(name + "=" + value);
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> out;
    for (auto &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Runs in the forked child: only async-signal-safe calls from here on.
[[noreturn]] void execChild(const SpawnRequest &request, char **argv, char **envp)
{
    int devnull = open("/dev/null", O_RDWR);
    dup2(request.stdinFd >= 0 ? request.stdinFd : devnull, STDIN_FILENO);
    if (request.stdoutFd >= 0)
        dup2(request.stdoutFd, STDOUT_FILENO);
    if (request.stderrFd >= 0)
        dup2(request.stderrFd, STDERR_FILENO);
    for (int fd : request.keepFds)
        fcntl(fd, F_SETFD, 0);
    // A launcher ignores the terminal's signals while it waits; its
    // children must not inherit that.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int signo : {SIGINT, SIGQUIT})
        sigaction(signo, &byDefault, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (strchr(argv[0], '/'))
        execve(argv[0], argv, envp);
    else
        execvpe(argv[0], argv, envp);
    dprintf(STDERR_FILENO, "cannot run %s: %s\n", argv[0], strerror(errno));
    _exit(127);
}

} // namespace

ChildProcess::ChildProcess(const SpawnRequest &request)
{
    if (request.argv.empty())
        throw std::invalid_argument("empty command");
    std::vector<std::string> args = request.argv;
    std::vector<std::string> env = mergedEnvironment(request.setEnv);
    auto argv = pointers(args);
    auto envp = pointers(env);
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error(std::string("fork: ") + strerror(errno));
    if (pid_ == 0)
        execChild(request, argv.data(), envp.data());
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd_ < 0)
        throw std::runtime_error(std::string("pidfd_open: ") + strerror(errno));
}

ChildProcess::~ChildProcess()
{
    if (!status_) {
        signal(SIGKILL);
        reap(0);
    }
    if (pidfd_ >= 0)
        close(pidfd_);
}

bool ChildProcess::reap(int flags)
{
    if (status_)
        return true;
    int wstatus = 0;
    pid_t r;
    do {
        r = waitpid(pid_, &wstatus, flags);
    } while (r < 0 && errno == EINTR);
    if (r == pid_)
        status_ = wstatus;
    return status_.has_value();
}

bool ChildProcess::running()
{
    return !reap(WNOHANG);
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout)
{
    if (status_)
        return status_;
    pollfd pfd{pidfd_, POLLIN, 0};
    int ready;
    do {
        ready = poll(&pfd, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready > 0)
        reap(0);
    return status_;
}

void ChildProcess::signal(int signo)
{
    if (!status_)
        syscall(SYS_pidfd_send_signal, pidfd_, signo, nullptr, 0);
}

std::string describeStatus(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return "exited with " + std::to_string(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus))
        return "killed by signal " + std::to_string(WTERMSIG(waitStatus));
    return "ended with status " + std::to_string(waitStatus);
}

Pipe::Pipe()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) < 0)
        throw std::runtime_error("pipe2 failed");
    read = fds[0];
    write = fds[1];
}

Pipe::~Pipe()
{
    closeWrite();
    if (read >= 0)
        close(read);
}

void Pipe::closeWrite()
{
    if (write >= 0)
        close(write);
    write = -1;
}

} // namespace qeltest
