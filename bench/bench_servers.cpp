// SPDX-License-Identifier: MIT
#include "bench_servers.h"

#include "eventually.h"

#include <cstdarg>
#include <cstdio>
#include <stdexcept>

namespace qelbench {

std::unique_ptr<qeltest::Session> startBenchServer(const ServerConfig &config,
                                                   const std::string &simDescription)
{
    qeltest::Testbed testbed;
    testbed.driver(config.driver).simDescription(simDescription);
    for (const auto &[name, value] : config.options)
        testbed.option(name, value);
    std::unique_ptr<qeltest::Session> session = testbed.start();
    // The server lights the panel once its console is active, after it has
    // begun to accept clients.
    if (!qeltest::eventually([&] { return session->sim().crtcs().at(0).active; }))
        throw std::runtime_error(config.title + ": no mode set");
    return session;
}

std::string format(const char *fmt, ...)
{
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

} // namespace qelbench
