// SPDX-License-Identifier: MIT
#include "placements.h"

#include <optional>
#include <regex>
#include <sstream>

namespace qeltest {

std::vector<std::string> Orientation::xrandrArgs() const
{
    std::string reflect = reflectX && reflectY ? "xy" : reflectX ? "x" : reflectY ? "y" : "normal";
    return {"--rotate", rotate, "--reflect", reflect};
}

std::string Orientation::name() const
{
    return rotate + (reflectX ? " X" : "") + (reflectY ? " Y" : "");
}

Image turnedFor(const Image &part, const Orientation &orientation)
{
    const bool sideways = orientation.rotate == "left" || orientation.rotate == "right";
    const int width = sideways ? part.height : part.width;
    const int height = sideways ? part.width : part.height;
    Image out{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
    for (int py = 0; py < height; ++py) {
        for (int px = 0; px < width; ++px) {
            int x = px, y = py;
            if (orientation.rotate == "left")
                x = part.width - 1 - py, y = px;
            else if (orientation.rotate == "inverted")
                x = part.width - 1 - px, y = part.height - 1 - py;
            else if (orientation.rotate == "right")
                x = py, y = part.height - 1 - px;
            if (orientation.reflectX)
                x = part.width - 1 - x;
            if (orientation.reflectY)
                y = part.height - 1 - y;
            out.pixels[static_cast<size_t>(py) * width + px] = part.at(x, y);
        }
    }
    return out;
}

namespace {

// xrandr's words after the mode: "left", "normal X axis", "right X and Y axis".
Orientation parseOrientation(const std::string &rotate, const std::string &reflect)
{
    Orientation o;
    o.rotate = rotate.empty() ? "normal" : rotate;
    o.reflectX = reflect.find('X') != std::string::npos;
    o.reflectY = reflect.find('Y') != std::string::npos;
    return o;
}

} // namespace

std::vector<Placement> litDisplays(const Session &session)
{
    static const std::regex header(
        R"(^(\S+) (?:dis)?connected (?:primary )?(\d+)x(\d+)\+(\d+)\+(\d+))"
        R"((?: \(0x[0-9a-f]+\))?(?: (normal|left|inverted|right))?((?: X and Y axis| X axis| Y axis)?))");
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
                                std::stoi(m[3].str()),
                                parseOrientation(m[6].str(), m[7].str())};
        } else if (current && std::regex_search(line, m, crtcLine)) {
            current->crtc = std::stoi(m[1].str());
            found.push_back(*current);
            current.reset();
        }
    }
    return found;
}

} // namespace qeltest
