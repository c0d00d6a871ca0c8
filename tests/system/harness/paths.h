// Where the pieces a test server needs live: the build's module and
// simulator, the host's umockdev preload and X server. Each can be overridden
// from the environment so that an installed or cross build can be tested.
#pragma once

#include <string>

namespace qeltest {

struct Paths {
    std::string buildRoot;        // QEL_BUILD
    std::string moduleDir;        // holds qel_drv.so
    std::string simLibrary;       // libqelsim.so, first in LD_PRELOAD
    std::string umockdevPreload;  // libumockdev-preload.so.0
    std::string xorg;             // the server binary
    std::string systemModuleDir;  // the server's own modules
};

// The paths of this build, with QEL_BUILD, QEL_SIM_LIB, QEL_UMOCKDEV_PRELOAD,
// QEL_XORG and QEL_XORG_MODULEDIR taking precedence when set.
Paths defaultPaths();

}  // namespace qeltest
