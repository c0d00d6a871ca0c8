// SPDX-License-Identifier: MIT
// The library's public entry points, and what it does when it is loaded
// into a process and when that process exits.
#include "qelsim.h"

#include "console.h"
#include "control.h"
#include "control_socket.h"
#include "counters_report.h"
#include "description.h"
#include "device.h"
#include "reentry_guard.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string *statsPath = nullptr;

// Taken out of the environment once read: the X server's children (xkbcomp)
// load this library too, and must neither steal the control socket nor
// overwrite the figures.
std::string takeEnvironment(const char *name)
{
    const char *value = std::getenv(name);
    std::string copy = value ? value : "";
    unsetenv(name);
    return copy;
}

void writeStats()
{
    qelsim::ReentryGuard inside;
    FILE *out = std::fopen(statsPath->c_str(), "w");
    if (!out)
        return;
    for (const auto &line : qelsim::counterLines(qelsim::Device::instance()))
        std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
}

__attribute__((constructor)) void onLoad()
{
    qelsim::ReentryGuard inside;
    const std::string control = takeEnvironment("QELSIM_CONTROL");
    const std::string stats = takeEnvironment("QELSIM_STATS");
    if (!stats.empty())
        statsPath = new std::string(stats);
    if (!control.empty() && !qelsim::serveControlSocket(control))
        std::fprintf(stderr, "qelsim: cannot serve control socket %s\n", control.c_str());
}

__attribute__((destructor)) void onExit()
{
    if (statsPath)
        writeStats();
}

} // namespace

extern "C" int qelsim_configure(const char *description_text)
{
    qelsim::ReentryGuard inside;
    qelsim::DeviceDescription d = qelsim::defaultDescription();
    std::string error;
    if (description_text && *description_text &&
        !qelsim::parseDescription(description_text, d, error)) {
        errno = EINVAL;
        return -1;
    }
    qelsim::Device::instance().reset(d);
    qelsim::Console::instance().reset();
    return 0;
}

extern "C" int qelsim_command(const char *request, char *reply, size_t reply_len)
{
    const std::string text = qelsim::runControlRequest(request ? request : "");
    if (reply && reply_len) {
        const size_t n = std::min(text.size(), reply_len - 1);
        std::memcpy(reply, text.data(), n);
        reply[n] = '\0';
    }
    const size_t lastLine = text.rfind('\n', text.size() - 2);
    const std::string last = text.substr(lastLine == std::string::npos ? 0 : lastLine + 1);
    return last == "ok\n" ? 0 : -1;
}
