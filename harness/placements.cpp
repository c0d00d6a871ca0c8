// SPDX-License-Identifier: MIT
#include "placements.h"

#include <optional>
#include <regex>
#include <sstream>

namespace qeltest {

std::vector<Placement> litDisplays(const Session &session)
{
    static const std::regex header(
        R"(^(\S+) (?:dis)?connected (?:primary )?(\d+)x(\d+)\+(\d+)\+(\d+))");
    static const std::regex crtcLine(R"(^\s+CRTC:\s+(\d+))");
    CommandResult result = session.run({"xrandr", "--verbose"});
    std::vector<Placement> found;
    std::istringstream lines(result.out);
    std::optional<Placement> current;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, header)) {
            current = Placement{-1,
                                m[1].str(),
                                std::stoi(m[4].str()),
                                std::stoi(m[5].str()),
                                std::stoi(m[2].str()),
                                std::stoi(m[3].str())};
        } else if (current && std::regex_search(line, m, crtcLine)) {
            current->crtc = std::stoi(m[1].str());
            found.push_back(*current);
            current.reset();
        }
    }
    return found;
}

} // namespace qeltest
