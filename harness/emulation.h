// SPDX-License-Identifier: MIT
// A test server of another architecture than the harness: the binary runs
// under a user-mode emulator, while the harness and the X clients stay
// native and reach it over its sockets.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qeltest {

// How a foreign server is run: the emulator with its options, then the
// guest's dynamic loader with its own, then the server's command line.
//
// The loader is named instead of giving qemu a sysroot (-L): with -L, qemu
// maps every absolute path that exists in the sysroot, "/" included, and
// libudev, which walks sysfs paths from a descriptor of "/", would then
// escape umockdev's redirection of /sys into the sysroot.
struct Emulation {
    std::vector<std::string> emulator; // empty: a native server
    std::vector<std::string> loader;   // e.g. ld-linux-armhf.so.3 --library-path DIRS
    // Guest variables that point the server's libraries into the sysroot
    // (Mesa's drivers); the caller's variables take precedence.
    std::map<std::string, std::string> env;

    bool active() const { return !emulator.empty(); }
};

// The command that runs argv, under the emulation when it is active, with
// env as the guest's environment. The variables go to the guest with -E, so
// that LD_PRELOAD reaches the emulated loader and not the emulator. Throws
// std::invalid_argument for a value holding a comma, which -E cannot carry.
std::vector<std::string> emulatedCommand(const Emulation &emulation,
                                         const std::map<std::string, std::string> &env,
                                         const std::vector<std::string> &argv);

// The environment the started process itself gets: env for a native server;
// none of it under emulation, where it travels as -E.
std::map<std::string, std::string> hostEnvironment(const Emulation &emulation,
                                                   const std::map<std::string, std::string> &env);

} // namespace qeltest
