// SPDX-License-Identifier: MIT
// The control request that switches the console between VTs, as a user's
// Ctrl+Alt+Fn does, and tells which VT is in the foreground and which is
// the server's.
#include "console.h"
#include "control_reply.h"

#include <chrono>

namespace qelsim {
namespace {

// How long the server may take to release its VT, and to acknowledge that
// it has it again.
constexpr auto switchLimit = std::chrono::seconds(10);

std::string stateLine(Console &console)
{
    const Console::State s = console.state();
    return "active=" + std::to_string(s.active) + " server=" + std::to_string(s.server);
}

} // namespace

bool controlVt(const Words &w, Reply &reply, bool &known)
{
    known = w[0] == "vt";
    if (!known)
        return false;
    unsigned vt = 0;
    if (w.size() > 2 || (w.size() == 2 && !parseCount(w[1], vt)))
        return reply.fail("usage: vt [<n>]");
    Console &console = Console::instance();
    const std::string why =
        w.size() == 2 ? console.switchTo(static_cast<int>(vt), switchLimit) : "";
    reply.lines.push_back(stateLine(console));
    return why.empty() || reply.fail(why);
}

} // namespace qelsim
