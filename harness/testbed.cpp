// SPDX-License-Identifier: MIT
#include "testbed.h"

#include "session.h"

#include <stdexcept>

namespace qeltest {

namespace {

std::string panelDescription(int width, int height)
{
    std::string mode = std::to_string(width) + "x" + std::to_string(height) + "@60";
    return "[device]\n"
           "nodes = /dev/dri/card0\n"
           "[crtc]\n"
           "[connector]\n"
           "type = eDP\n"
           "type_id = 1\n"
           "status = connected\n"
           "mm = " +
           std::to_string(width * 254 / 960) + "x" + std::to_string(height * 254 / 960) +
           "\n"
           "modes = " +
           mode +
           "\n"
           "edid = yes\n";
}

// The server takes a VT of the simulated console for itself (the first
// free one, VT_OPENQRY), as on a board; -keeptty keeps it in the process
// group of its parent, so that ^C at a terminal still reaches it.
const std::vector<std::string> consoleServerArgs = {"-keeptty"};

} // namespace

Testbed::Testbed() : paths_(defaultPaths())
{
    config_.driver = "qel";
}

Testbed &Testbed::driver(const std::string &name)
{
    config_.driver = name;
    return *this;
}

Testbed &Testbed::driverChosenByServer()
{
    config_.driver.clear();
    return *this;
}

Testbed &Testbed::option(const std::string &name, const std::string &value)
{
    config_.deviceOptions.emplace_back(name, value);
    return *this;
}

Testbed &Testbed::panel(int width, int height)
{
    simDescription_ = panelDescription(width, height);
    return *this;
}

Testbed &Testbed::simDescription(const std::string &text)
{
    simDescription_ = text;
    return *this;
}

Testbed &Testbed::backlight(const BacklightDevice &device)
{
    backlights_.push_back(device);
    return *this;
}

Testbed &Testbed::kernelDriver(const std::string &name)
{
    kernelDriver_ = name;
    return *this;
}

Testbed &Testbed::configDir(const std::string &dir)
{
    configDir_ = dir;
    return *this;
}

Testbed &Testbed::reset(bool regenerate)
{
    noReset_ = !regenerate;
    return *this;
}

Testbed &Testbed::serverArgs(const std::vector<std::string> &args)
{
    serverArgs_ = args;
    return *this;
}

Testbed &Testbed::serverEnv(const std::string &name, const std::string &value)
{
    serverEnv_[name] = value;
    return *this;
}

Testbed &Testbed::paths(const Paths &paths)
{
    paths_ = paths;
    return *this;
}

Testbed &Testbed::withoutDevice()
{
    simulated_ = false;
    return *this;
}

void Testbed::checkBuilt() const
{
    std::vector<std::string> needed = {paths_.xorg, paths_.moduleDir + "/qel_drv.so",
                                       paths_.umockdevPreload, paths_.simLibrary};
    for (const auto &path : needed)
        if (!pathExists(path))
            throw XServer::StartFailure("missing " + path + " (not built or not installed)");
}

std::map<std::string, std::string> Testbed::environment(const TempDir &run) const
{
    std::map<std::string, std::string> env = serverEnv_;
    env.insert({"UMOCKDEV_DIR", run / "testbed"});
    env.insert({
        // The simulator must see the device path before umockdev rewrites it.
        {"LD_PRELOAD", paths_.simLibrary + ":" + paths_.umockdevPreload},
        {"QELSIM_CONTROL", run / "sim.sock"},
        {"QELSIM_STATS", run / "sim-stats"},
    });
    if (!deviceDescription().empty())
        env["QELSIM_CONFIG"] = run / "device.conf";
    return env;
}

// A [device] section may follow the others; without any [crtc] or
// [connector] the simulator keeps its default panel. Without a device the
// simulator still answers for the console: the server must never reach the
// host's.
std::string Testbed::deviceDescription() const
{
    if (!simulated_)
        return "[device]\nnodes =\n";
    if (kernelDriver_.empty())
        return simDescription_;
    return simDescription_ + "[device]\ndriver = " + kernelDriver_ + "\n";
}

XServerLaunch Testbed::prepare(const TempDir &run) const
{
    checkBuilt();
    XorgConfig config = config_;
    config.modulePath = {paths_.moduleDir, paths_.systemModuleDir};
    writeFile(run / "xorg.conf", config.render());
    // An empty -configdir makes the server fall back to the system's; one
    // file that says nothing keeps it out.
    std::string configDir = configDir_;
    if (configDir.empty()) {
        configDir = run / "xorg.conf.d";
        makeDirs(configDir);
        writeFile(configDir + "/00-none.conf", "# no further configuration\n");
    }
    SysfsDevice device;
    if (!kernelDriver_.empty())
        device.kernelDriver = kernelDriver_;
    if (simulated_)
        SysfsTestbed::write(run / "testbed", device, backlights_);
    else
        SysfsTestbed::writeEmpty(run / "testbed");
    if (!deviceDescription().empty())
        writeFile(run / "device.conf", deviceDescription());

    XServerLaunch launch;
    launch.xorg = paths_.xorg;
    launch.emulation = paths_.emulation;
    launch.startTimeout *= paths_.slowdown;
    launch.configFile = run / "xorg.conf";
    launch.configDir = configDir;
    launch.logFile = run / "Xorg.log";
    launch.extraArgs = consoleServerArgs;
    launch.extraArgs.insert(launch.extraArgs.end(), serverArgs_.begin(), serverArgs_.end());
    launch.env = environment(run);
    launch.noReset = noReset_;
    return launch;
}

std::unique_ptr<Session> Testbed::start() const
{
    return start(std::make_unique<TempDir>("qel-xorg"));
}

std::unique_ptr<Session> Testbed::start(std::unique_ptr<TempDir> run) const
{
    return std::make_unique<Session>(*this, std::move(run));
}

ExitedServer Testbed::runToExit() const
{
    TempDir run("qel-xorg");
    XServerLaunch launch = prepare(run);
    ExitedServer exited;
    exited.waitStatus = runXServerToExit(launch);
    exited.log = pathExists(launch.logFile) ? readFile(launch.logFile) : "";
    return exited;
}

} // namespace qeltest
