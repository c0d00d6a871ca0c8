// SPDX-License-Identifier: MIT
#include "xorg_config.h"

#include <sstream>

namespace qeltest {

namespace {

const char *const serverFlags = R"(Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
    Option "AutoAddGPU" "false"
    Option "AutoBindGPU" "false"
    Option "BlankTime" "0"
    Option "StandbyTime" "0"
    Option "SuspendTime" "0"
    Option "OffTime" "0"
EndSection
)";

std::string joined(const std::vector<std::string> &parts, char separator)
{
    std::string out;
    for (const auto &part : parts) {
        if (!out.empty())
            out += separator;
        out += part;
    }
    return out;
}

void renderFiles(std::ostringstream &out, const XorgConfig &config)
{
    out << "Section \"Files\"\n"
        << "    ModulePath \"" << joined(config.modulePath, ',') << "\"\n"
        << "EndSection\n";
}

void renderModules(std::ostringstream &out, const XorgConfig &config)
{
    if (config.loadModules.empty())
        return;
    out << "Section \"Module\"\n";
    for (const auto &module : config.loadModules)
        out << "    Load \"" << module << "\"\n";
    out << "EndSection\n";
}

void renderScreen(std::ostringstream &out, const XorgConfig &config)
{
    out << "Section \"Device\"\n"
        << "    Identifier \"dev0\"\n"
        << "    Driver \"" << config.driver << "\"\n";
    for (const auto &[name, value] : config.deviceOptions)
        out << "    Option \"" << name << "\" \"" << value << "\"\n";
    out << "EndSection\n"
        << "Section \"Screen\"\n"
        << "    Identifier \"screen0\"\n"
        << "    Device \"dev0\"\n"
        << "EndSection\n";
}

} // namespace

std::string XorgConfig::render() const
{
    std::ostringstream out;
    out << serverFlags;
    renderFiles(out, *this);
    renderModules(out, *this);
    if (!driver.empty())
        renderScreen(out, *this);
    out << extraSections;
    return out.str();
}

} // namespace qeltest
