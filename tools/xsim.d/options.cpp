#include "options.h"

#include <cstring>
#include <stdexcept>

namespace xsim {

const char *usageText()
{
    return R"(usage: tools/xsim [OPTION]... [-- COMMAND [ARG...]]

Starts the real Xorg on the simulated TX3120 (the project's build of qel_drv.so
and of the simulator, with umockdev providing the device to the server's
platform bus), runs COMMAND with DISPLAY set, then writes into the output
folder:
  Xorg.log    the server's log
  panel.png   what the first CRTC shows once COMMAND has ended and the
              simulator has seen no GE work, mode set or flip for 3 vblanks
  sim-stats   the simulator's final counters (key=value) as the server exits
and exits with COMMAND's status (without COMMAND: 0). If the server does not
come up, it says why (with the log's tail) and exits with 2.

Options:
  --driver qel|modesetting   video driver (default qel)
  --arch native|armhf        the server's architecture (default: QEL_ARCH, or
                             native). armhf runs the armhf Xorg, qel_drv.so
                             and simulator (cross-built into build-armhf/
                             first when needed) under qemu-arm-static;
                             COMMAND and xsim itself stay native
  --option NAME=VALUE        Device-section option, repeatable
                             (e.g. --option Accel=off --option TearFree=off)
  --panel WxH                one connected eDP panel with the single mode
                             WxH@60 (default: the simulator's 1024x768 panel)
  --sim-config FILE          a whole simulator device description instead
                             (CRTCs, connectors, modes; see sim/README.md)
  --fault KIND=COUNT         arm a simulator fault once the server is up,
                             before COMMAND runs (kinds as in sim/README.md:
                             submit_eintr, submit_eagain, submit_einval, wait,
                             flip, setcrtc, create_dumb, create_dumb_nth,
                             master); repeatable
  --backlight [NAME=]MAX[:CUR] a sysfs backlight device (default name
                             backlight, default brightness MAX); repeatable
  --out DIR                  output folder (default: a fresh one, named on
                             stderr)
  --keep                     leave the server running after COMMAND; prints
                             its DISPLAY and how to stop it (the outputs
                             are written when it is stopped)
  --reset                    let the server regenerate when its last client
                             leaves (default: -noreset, so that what COMMAND
                             drew is still on the panel afterwards)
  -h, --help                 this text

Environment: QEL_BUILD (build directory; default build), QEL_SIM_LIB,
QEL_UMOCKDEV_PRELOAD, QEL_XORG, QEL_XORG_MODULEDIR override the parts used.
QEL_ARCH (native or armhf) chooses the server as --arch does; for armhf,
QEL_ARMHF_SYSROOT (default .armhf) and QEL_ARMHF_BUILD (default build-armhf)
say where the armhf server and the armhf build are.

Example:
  tools/xsim --out /tmp/shot -- sh -c 'xrandr; x11perf -rect10 -repeat 1'
  tools/xsim --arch armhf --out /tmp/shot-armhf -- xrandr
)";
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

}  // namespace

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

}  // namespace xsim
