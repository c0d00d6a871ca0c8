// SPDX-License-Identifier: MIT
#include "sim_control.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace qeltest {

namespace {

using Clock = std::chrono::steady_clock;

class Connection {
public:
    explicit Connection(const std::string &path)
    {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (path.size() >= sizeof addr.sun_path)
            throw SimError("control socket path too long: " + path);
        std::strcpy(addr.sun_path, path.c_str());
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0)
            throw SimError("cannot connect to the simulator at " + path + ": " +
                           std::strerror(errno));
    }
    ~Connection() { close(fd_); }

    void send(const std::string &line)
    {
        std::string data = line + "\n";
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw SimError(std::string("send to the simulator: ") + std::strerror(errno));
            done += static_cast<size_t>(n);
        }
    }

    // The next line without its newline; throws on timeout or end of stream.
    std::string readLine(Clock::time_point deadline)
    {
        size_t end;
        while ((end = pending_.find('\n')) == std::string::npos)
            fill(deadline);
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
    }

private:
    int fd_ = -1;
    std::string pending_;

    void fill(Clock::time_point deadline)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd pfd{fd_, POLLIN, 0};
        int ready = poll(&pfd, 1, std::max(0, static_cast<int>(left.count())));
        if (ready < 0 && errno == EINTR)
            return;
        if (ready <= 0)
            throw SimError("the simulator did not answer in time");
        char buffer[4096];
        ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0)
            throw SimError("the simulator closed the control connection");
        pending_.append(buffer, static_cast<size_t>(n));
    }
};

} // namespace

std::map<std::string, std::string> SimReply::values() const
{
    std::map<std::string, std::string> out;
    for (const auto &line : lines) {
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            auto eq = word.find('=');
            if (eq != std::string::npos)
                out[word.substr(0, eq)] = word.substr(eq + 1);
        }
    }
    return out;
}

SimReply SimControl::request(const std::string &line, std::chrono::milliseconds timeout) const
{
    Connection connection(path_);
    connection.send(line);
    auto deadline = Clock::now() + timeout;
    SimReply reply;
    for (;;) {
        std::string text = connection.readLine(deadline);
        if (text == "ok") {
            reply.ok = true;
            return reply;
        }
        if (text.rfind("error", 0) == 0) {
            reply.error = text.size() > 6 ? text.substr(6) : "";
            return reply;
        }
        reply.lines.push_back(text);
    }
}

SimReply SimControl::command(const std::string &line) const
{
    SimReply reply = request(line);
    if (!reply.ok)
        throw SimError("simulator refused '" + line + "': " + reply.error);
    return reply;
}

std::map<std::string, std::string> SimControl::counters() const
{
    return command("counters").values();
}

long counterOrZero(const std::map<std::string, std::string> &counters, const std::string &name)
{
    auto found = counters.find(name);
    return found == counters.end() ? 0 : std::stol(found->second);
}

long SimControl::counter(const std::string &name) const
{
    auto all = counters();
    auto found = all.find(name);
    if (found == all.end())
        throw SimError("the simulator reports no counter " + name);
    return std::stol(found->second);
}

std::vector<SimCrtc> SimControl::crtcs() const
{
    std::vector<SimCrtc> out;
    for (const auto &line : command("crtcs").lines) {
        SimReply one;
        one.lines = {line};
        auto v = one.values();
        SimCrtc crtc;
        crtc.index = std::stoi(v["index"]);
        crtc.id = static_cast<unsigned>(std::stoul(v["id"]));
        crtc.active = v["active"] == "1";
        crtc.fb = static_cast<unsigned>(std::stoul(v.count("fb") ? v["fb"] : "0"));
        crtc.x = std::stoi(v.count("x") ? v["x"] : "0");
        crtc.y = std::stoi(v.count("y") ? v["y"] : "0");
        crtc.mode = v["mode"];
        crtc.connectors = v["connectors"];
        crtc.cursor = v["cursor"];
        crtc.vblank = std::stoull(v.count("vblank") ? v["vblank"] : "0");
        crtc.frameNs = std::stoll(v.count("frame_ns") ? v["frame_ns"] : "0");
        out.push_back(crtc);
    }
    return out;
}

void SimControl::capture(int crtcIndex, const std::string &pngPath) const
{
    command("capture " + std::to_string(crtcIndex) + " " + pngPath);
}

void SimControl::settle(int vblanks) const
{
    command("settle " + std::to_string(vblanks));
}

namespace {

SimVt vtOf(const SimReply &reply)
{
    auto v = reply.values();
    return {std::stoi(v.count("active") ? v["active"] : "0"),
            std::stoi(v.count("server") ? v["server"] : "0")};
}

} // namespace

SimVt SimControl::vt() const
{
    return vtOf(command("vt"));
}

SimVt SimControl::switchVt(int vt) const
{
    return vtOf(command("vt " + std::to_string(vt)));
}

} // namespace qeltest
