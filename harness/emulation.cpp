// SPDX-License-Identifier: MIT
#include "emulation.h"

#include <stdexcept>

namespace qeltest {

std::vector<std::string> emulatedCommand(const Emulation &emulation,
                                         const std::map<std::string, std::string> &env,
                                         const std::vector<std::string> &argv)
{
    if (!emulation.active())
        return argv;
    std::vector<std::string> command = emulation.emulator;
    std::map<std::string, std::string> guestEnv = env;
    guestEnv.insert(emulation.env.begin(), emulation.env.end());
    for (const auto &[name, value] : guestEnv) {
        // qemu splits an -E argument at commas into several assignments.
        if (value.find(',') != std::string::npos)
            throw std::invalid_argument("cannot pass " + name + "=" + value +
                                        " to an emulated server: it holds a comma");
        command.insert(command.end(), {"-E", name + "=" + value});
    }
    command.insert(command.end(), emulation.loader.begin(), emulation.loader.end());
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

std::map<std::string, std::string> hostEnvironment(const Emulation &emulation,
                                                   const std::map<std::string, std::string> &env)
{
    return emulation.active() ? std::map<std::string, std::string>{} : env;
}

} // namespace qeltest
