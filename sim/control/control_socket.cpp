// SPDX-License-Identifier: MIT
#include "control_socket.h"

#include "control.h"
#include "quiet_thread.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace qelsim {
namespace {

// Raw system calls: the descriptors here are the simulator's own and must
// not be mistaken for anything by another preload.
void closeFd(int fd)
{
    syscall(SYS_close, fd);
}

bool writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void serveClient(int fd)
{
    std::string pending;
    char chunk[1024];
    for (;;) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(chunk, static_cast<size_t>(n));
        for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            const std::string request = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (!writeAll(fd, runControlRequest(request)))
                break;
        }
    }
    closeFd(fd);
}

void acceptLoop(int listener)
{
    for (;;) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        // One thread per client: a test's `settle` must not hold up another.
        startQuietThread([client] { serveClient(client); }).detach();
    }
}

} // namespace

bool serveControlSocket(const std::string &path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::strcpy(addr.sun_path, path.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    syscall(SYS_unlink, path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
        closeFd(fd);
        return false;
    }
    startQuietThread([fd] { acceptLoop(fd); }).detach();
    return true;
}

} // namespace qelsim
