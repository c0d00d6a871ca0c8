// SPDX-License-Identifier: MIT
#include "control.h"

#include "control_reply.h"
#include "reentry_guard.h"

#include <cstdio>
#include <sstream>

namespace qelsim {

bool parseCount(const std::string &word, unsigned &out)
{
    char tail;
    return std::sscanf(word.c_str(), "%u%c", &out, &tail) == 1;
}

std::string runControlRequest(const std::string &request)
{
    ReentryGuard inside;
    std::istringstream in(request);
    Words words;
    for (std::string w; in >> w;)
        words.push_back(w);
    Reply reply;
    bool known = false;
    if (words.empty()) {
        reply.fail("empty request");
    } else {
        controlObserve(words, reply, known);
        if (!known)
            controlDrive(words, reply, known);
        if (!known)
            controlPlug(words, reply, known);
        if (!known)
            controlVt(words, reply, known);
        if (!known)
            reply.fail("unknown request: " + words[0]);
    }
    std::string text;
    for (const auto &line : reply.lines)
        text += line + "\n";
    text += reply.error.empty() ? "ok\n" : "error " + reply.error + "\n";
    return text;
}

} // namespace qelsim
