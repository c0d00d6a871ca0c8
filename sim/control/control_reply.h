// SPDX-License-Identifier: MIT
// A reply being built by a control request handler.
#pragma once

#include <string>
#include <vector>

namespace qelsim {

struct Reply {
    std::vector<std::string> lines;
    std::string error; // empty: ok

    bool fail(std::string why)
    {
        error = std::move(why);
        return false;
    }
};

using Words = std::vector<std::string>;

// Handlers of the request families; each returns false after setting an
// error, true when the request succeeded.
bool controlObserve(const Words &words, Reply &reply, bool &known);
bool controlDrive(const Words &words, Reply &reply, bool &known);
bool controlPlug(const Words &words, Reply &reply, bool &known);
bool controlVt(const Words &words, Reply &reply, bool &known);

bool parseCount(const std::string &word, unsigned &out);

} // namespace qelsim
