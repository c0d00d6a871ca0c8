// SPDX-License-Identifier: MIT
#include "schedule.h"

#include <algorithm>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace xsim {

namespace {

std::chrono::milliseconds inMs(double seconds)
{
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

} // namespace

TimedRequest parseHotplug(const std::string &text)
{
    const std::invalid_argument wrong("--hotplug-after wants SECONDS:INDEX:connected|disconnected"
                                      "[:MODE,MODE...], not '" +
                                      text + "'");
    std::vector<std::string> parts = split(text, ':');
    if (parts.size() < 3 || parts.size() > 4)
        throw wrong;
    double seconds = -1;
    unsigned long index = 0;
    size_t usedSeconds = 0, usedIndex = 0;
    try {
        seconds = std::stod(parts[0], &usedSeconds);
        index = std::stoul(parts[1], &usedIndex);
    } catch (const std::exception &) {
    }
    const std::string &state = parts[2];
    if (seconds < 0 || usedSeconds != parts[0].size() || usedIndex != parts[1].size() ||
        usedIndex == 0 || (state != "connected" && state != "disconnected"))
        throw wrong;
    std::string request = "connector " + std::to_string(index) + " " + state;
    if (parts.size() == 4)
        for (const std::string &mode : split(parts[3], ','))
            request += " " + mode;
    return {inMs(seconds), request};
}

std::vector<TimedRequest> vtSwitchRequests(double seconds, int serverVt)
{
    return {{inMs(seconds), "vt 1"}, {inMs(2 * seconds), "vt " + std::to_string(serverVt)}};
}

RequestSchedule::RequestSchedule(const qeltest::Session &session,
                                 std::vector<TimedRequest> requests)
{
    std::stable_sort(
        requests.begin(), requests.end(),
        [](const TimedRequest &a, const TimedRequest &b) { return a.after < b.after; });
    if (!requests.empty())
        thread_ = std::thread([this, &session, requests] { run(session, requests); });
}

RequestSchedule::~RequestSchedule()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

// A VT switch goes through the session, which keeps the server awake
// until it has answered the console's signal, as the keys' own events do.
void RequestSchedule::send(const qeltest::Session &session, const std::string &request)
{
    if (request.rfind("vt ", 0) == 0) {
        session.switchVt(std::stoi(request.substr(3)));
        return;
    }
    qeltest::SimReply reply = session.sim().request(request);
    if (!reply.ok)
        std::cerr << "xsim: " << request << ": " << reply.error << "\n";
}

void RequestSchedule::run(const qeltest::Session &session, std::vector<TimedRequest> requests)
{
    const auto start = std::chrono::steady_clock::now();
    for (const TimedRequest &timed : requests) {
        {
            std::unique_lock lock(mutex_);
            if (stopped_.wait_until(lock, start + timed.after, [this] { return stopping_; }))
                return;
        }
        try {
            send(session, timed.request);
        } catch (const std::exception &error) {
            std::cerr << "xsim: " << timed.request << ": " << error.what() << "\n";
            return;
        }
    }
}

} // namespace xsim
