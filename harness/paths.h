// SPDX-License-Identifier: MIT
// Where the pieces a test server needs live: the build's module and
// simulator, the host's umockdev preload and X server. Each can be overridden
// from the environment so that an installed or cross build can be tested.
//
// QEL_ARCH=armhf selects the armhf server instead: Xorg, its modules and
// umockdev's preload from QEL_ARMHF_SYSROOT (default .armhf/ in the source
// tree), qel_drv.so and the simulator from QEL_ARMHF_BUILD (default
// build-armhf/), run under qemu-arm-static by the sysroot's own loader. The
// harness and the X clients stay native either way.
#pragma once

#include "emulation.h"

#include <string>

namespace qeltest {

struct Paths {
    std::string arch = "native"; // QEL_ARCH: native or armhf
    std::string buildRoot;       // QEL_BUILD, or QEL_ARMHF_BUILD for armhf
    std::string moduleDir;       // holds qel_drv.so
    std::string simLibrary;      // libqelsim.so, first in LD_PRELOAD
    std::string umockdevPreload; // libumockdev-preload.so.0
    std::string xorg;            // the server binary
    std::string systemModuleDir; // the server's own modules
    Emulation emulation;         // runs xorg; inactive for a native server
    int slowdown = 1;            // how many times longer the server takes
};

// The paths of this build for the architecture QEL_ARCH names, with
// QEL_SIM_LIB, QEL_UMOCKDEV_PRELOAD, QEL_XORG and QEL_XORG_MODULEDIR taking
// precedence when set. Throws std::invalid_argument for an unknown QEL_ARCH.
Paths defaultPaths();

} // namespace qeltest
