// SPDX-License-Identifier: MIT
#include "description.h"

#include <array>
#include <cstdio>
#include <sstream>

namespace qelsim {
namespace {

// Indexed by DRM_MODE_CONNECTOR_*; the names libdrm gives them.
constexpr std::array<const char *, 21> connectorTypeNames = {
    "Unknown", "VGA",       "DVI-I", "DVI-D", "DVI-A",     "Composite", "SVIDEO",
    "LVDS",    "Component", "DIN",   "DP",    "HDMI-A",    "HDMI-B",    "TV",
    "eDP",     "Virtual",   "DSI",   "DPI",   "Writeback", "SPI",       "USB"};

std::string trim(const std::string &s)
{
    const auto begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    const auto end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

bool parseSize(const std::string &v, uint32_t &w, uint32_t &h)
{
    unsigned a, b;
    char tail;
    if (std::sscanf(v.c_str(), "%ux%u%c", &a, &b, &tail) != 2)
        return false;
    w = a;
    h = b;
    return true;
}

bool parseUnsigned(const std::string &v, uint32_t &out)
{
    unsigned a;
    char tail;
    if (std::sscanf(v.c_str(), "%u%c", &a, &tail) != 1)
        return false;
    out = a;
    return true;
}

bool parseMode(const std::string &word, ModeRequest &mode)
{
    unsigned w, h, r = 60;
    char tail;
    const int n = std::sscanf(word.c_str(), "%ux%u@%u%c", &w, &h, &r, &tail);
    if ((n != 2 && n != 3) || w == 0 || h == 0 || r == 0)
        return false;
    mode = {w, h, r};
    return true;
}

bool parseStatus(const std::string &v, uint32_t &status)
{
    if (v == "connected")
        status = 1;
    else if (v == "disconnected")
        status = 2;
    else if (v == "unknown")
        status = 3;
    else
        return false;
    return true;
}

bool parseYesNo(const std::string &v, bool &out)
{
    if (v == "yes" || v == "1" || v == "true")
        out = true;
    else if (v == "no" || v == "0" || v == "false")
        out = false;
    else
        return false;
    return true;
}

bool setDeviceKey(DeviceDescription &d, const std::string &key, const std::string &v)
{
    if (key == "driver") {
        d.driver = v;
        return !v.empty() && v.find_first_of(" \t") == std::string::npos;
    }
    if (key == "nodes") {
        std::istringstream words(v);
        d.nodes.clear();
        for (std::string w; words >> w;)
            d.nodes.push_back(w);
        return true;
    }
    if (key == "min_size")
        return parseSize(v, d.minWidth, d.minHeight);
    if (key == "max_size")
        return parseSize(v, d.maxWidth, d.maxHeight);
    if (key == "pitch_align")
        return parseUnsigned(v, d.pitchAlign) && d.pitchAlign > 0;
    if (key == "vblank") {
        d.manualVblank = v == "manual";
        return v == "manual" || v == "auto" || v == "60hz";
    }
    if (key == "ge") {
        d.threadedGe = v == "thread";
        return v == "thread" || v == "sync";
    }
    if (key == "ge_delay_us") {
        uint32_t us = 0;
        const bool ok = parseUnsigned(v, us);
        d.geDelayUs = us;
        return ok;
    }
    return false;
}

// `cursor = WxH` (a cursor plane of that size, both at least 1) or
// `cursor = none`.
bool parseCursor(const std::string &v, uint32_t &w, uint32_t &h)
{
    if (v == "none") {
        w = h = 0;
        return true;
    }
    return parseSize(v, w, h) && w > 0 && h > 0;
}

bool setCrtcKey(CrtcDescription &c, const std::string &key, const std::string &v)
{
    if (key == "gamma_size")
        return parseUnsigned(v, c.gammaSize);
    if (key == "cursor")
        return parseCursor(v, c.cursorWidth, c.cursorHeight);
    if (key == "vblank_count") {
        unsigned long long count;
        char tail;
        if (std::sscanf(v.c_str(), "%llu%c", &count, &tail) != 1)
            return false;
        c.vblankCount = count;
        return true;
    }
    return false;
}

bool setConnectorKey(ConnectorDescription &c, const std::string &key, const std::string &v)
{
    if (key == "type")
        return connectorTypeFromName(v, c.type);
    if (key == "type_id")
        return parseUnsigned(v, c.typeId);
    if (key == "status")
        return parseStatus(v, c.status);
    if (key == "mm")
        return parseSize(v, c.mmWidth, c.mmHeight);
    if (key == "modes")
        return parseModes(v, c.modes);
    if (key == "edid")
        return parseYesNo(v, c.edid);
    return false;
}

bool setKey(DeviceDescription &d, const std::string &section, const std::string &key,
            const std::string &v)
{
    if (section == "device")
        return setDeviceKey(d, key, v);
    if (section == "crtc")
        return setCrtcKey(d.crtcs.back(), key, v);
    if (section == "connector")
        return setConnectorKey(d.connectors.back(), key, v);
    return false;
}

bool openSection(DeviceDescription &d, const std::string &name)
{
    if (name == "crtc")
        d.crtcs.emplace_back();
    else if (name == "connector")
        d.connectors.emplace_back();
    else if (name != "device")
        return false;
    return true;
}

bool parseLine(DeviceDescription &d, std::string &section, const std::string &raw)
{
    const std::string line = trim(raw.substr(0, raw.find('#')));
    if (line.empty())
        return true;
    if (line.front() == '[') {
        if (line.back() != ']')
            return false;
        section = trim(line.substr(1, line.size() - 2));
        return openSection(d, section);
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos || section.empty())
        return false;
    return setKey(d, section, trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
}

} // namespace

bool parseModes(const std::string &v, std::vector<ModeRequest> &modes)
{
    std::istringstream words(v);
    std::string word;
    modes.clear();
    while (words >> word) {
        ModeRequest mode;
        if (!parseMode(word, mode))
            return false;
        modes.push_back(mode);
    }
    return true;
}

bool connectorTypeFromName(const std::string &name, uint32_t &type)
{
    for (size_t i = 0; i < connectorTypeNames.size(); ++i) {
        if (name == connectorTypeNames[i]) {
            type = static_cast<uint32_t>(i);
            return true;
        }
    }
    return parseUnsigned(name, type);
}

DeviceDescription defaultDescription()
{
    DeviceDescription d;
    d.crtcs.emplace_back();
    ConnectorDescription panel;
    panel.modes = {{1024, 768, 60}, {800, 600, 60}, {640, 480, 60}};
    d.connectors.push_back(panel);
    return d;
}

bool parseDescription(const std::string &text, DeviceDescription &out, std::string &error)
{
    DeviceDescription d;
    d.nodes = {"/dev/dri/card0"};
    std::istringstream lines(text);
    std::string section, line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!parseLine(d, section, line)) {
            error = "line " + std::to_string(number) + ": " + trim(line);
            return false;
        }
    }
    // A text that describes no object at all means the default device; one
    // that names any CRTC or connector is taken as the whole list, so that
    // devices without CRTCs or without connectors can be described.
    if (d.crtcs.empty() && d.connectors.empty()) {
        const DeviceDescription fallback = defaultDescription();
        d.crtcs = fallback.crtcs;
        d.connectors = fallback.connectors;
    }
    out = std::move(d);
    return true;
}

} // namespace qelsim
