// SPDX-License-Identifier: MIT
#include "options.h"

#include "xsim_usage.h"

#include <cstring>
#include <stdexcept>

namespace xsim {

const char *usageText()
{
    return xsimUsage;
}

namespace {

std::pair<std::string, std::string> splitAt(const std::string &text, char separator,
                                            const std::string &what)
{
    auto at = text.find(separator);
    if (at == std::string::npos || at == 0)
        throw std::invalid_argument(what + " wants NAME" + separator + "VALUE, not '" + text + "'");
    return {text.substr(0, at), text.substr(at + 1)};
}

std::pair<int, int> parsePanel(const std::string &text)
{
    auto x = text.find('x');
    std::string w = text.substr(0, x), h = x == std::string::npos ? "" : text.substr(x + 1);
    size_t usedW = 0, usedH = 0;
    int width = 0, height = 0;
    try {
        width = std::stoi(w, &usedW);
        height = std::stoi(h, &usedH);
    } catch (const std::exception &) {
    }
    if (usedW != w.size() || usedH != h.size() || width <= 0 || height <= 0)
        throw std::invalid_argument("--panel wants WIDTHxHEIGHT, not '" + text + "'");
    return {width, height};
}

// [NAME=]MAX[:CUR]: a sysfs backlight device, named "backlight" unless
// NAME is given, at brightness MAX unless CUR is.
qeltest::BacklightDevice parseBacklight(const std::string &text)
{
    auto eq = text.find('=');
    if (eq == 0 || text.empty() || eq + 1 == text.size())
        throw std::invalid_argument("--backlight wants [NAME=]MAX[:CUR], not '" + text + "'");
    std::string name = eq == std::string::npos ? "backlight" : text.substr(0, eq);
    std::string levels = eq == std::string::npos ? text : text.substr(eq + 1);
    auto colon = levels.find(':');
    std::string max = levels.substr(0, colon);
    std::string current = colon == std::string::npos ? max : levels.substr(colon + 1);
    return {name, max + "\n", current + "\n"};
}

double parseSeconds(const std::string &option, const std::string &text)
{
    size_t used = 0;
    double seconds = 0;
    try {
        seconds = std::stod(text, &used);
    } catch (const std::exception &) {
    }
    if (used != text.size() || !(seconds > 0))
        throw std::invalid_argument(option + " wants a number of seconds above 0, not '" + text +
                                    "'");
    return seconds;
}

class ArgReader {
public:
    ArgReader(int argc, char **argv) : argc_(argc), argv_(argv) {}
    bool more() const { return next_ < argc_; }
    std::string take() { return argv_[next_++]; }
    std::string valueOf(const std::string &option)
    {
        if (!more())
            throw std::invalid_argument(option + " needs a value");
        return take();
    }

private:
    int argc_;
    char **argv_;
    int next_ = 1;
};

void applyOption(Options &o, const std::string &arg, ArgReader &args)
{
    if (arg == "--driver")
        o.driver = args.valueOf(arg);
    else if (arg == "--arch")
        o.arch = args.valueOf(arg);
    else if (arg == "--option")
        o.deviceOptions.push_back(splitAt(args.valueOf(arg), '=', arg));
    else if (arg == "--panel")
        o.panel = parsePanel(args.valueOf(arg));
    else if (arg == "--sim-config")
        o.simConfigFile = args.valueOf(arg);
    else if (arg == "--fault")
        o.faults.push_back(splitAt(args.valueOf(arg), '=', arg));
    else if (arg == "--backlight")
        o.backlights.push_back(parseBacklight(args.valueOf(arg)));
    else if (arg == "--hotplug-after")
        o.hotplugs.push_back(parseHotplug(args.valueOf(arg)));
    else if (arg == "--vt-switch-after")
        o.vtSwitchAfter = parseSeconds(arg, args.valueOf(arg));
    else if (arg == "--out")
        o.outDir = args.valueOf(arg);
    else if (arg == "--keep")
        o.keep = true;
    else if (arg == "--reset")
        o.reset = true;
    else if (arg == "-h" || arg == "--help")
        o.help = true;
    else
        throw std::invalid_argument("unknown option " + arg + " (see --help)");
}

} // namespace

Options parseOptions(int argc, char **argv)
{
    Options o;
    ArgReader args(argc, argv);
    while (args.more()) {
        std::string arg = args.take();
        if (arg == "--") {
            while (args.more())
                o.command.push_back(args.take());
            break;
        }
        applyOption(o, arg, args);
    }
    if (o.driver != "qel" && o.driver != "modesetting")
        throw std::invalid_argument("--driver is qel or modesetting, not " + o.driver);
    if (!o.arch.empty() && o.arch != "native" && o.arch != "armhf")
        throw std::invalid_argument("--arch is native or armhf, not " + o.arch);
    if (o.panel && !o.simConfigFile.empty())
        throw std::invalid_argument("--panel and --sim-config exclude each other");
    return o;
}

} // namespace xsim
