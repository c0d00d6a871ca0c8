#include "paths.h"

#include <cstdlib>

#ifndef QEL_BUILD_ROOT
#error "QEL_BUILD_ROOT must name the build directory"
#endif
#ifndef QEL_LIBDIR
#error "QEL_LIBDIR must name the host's multiarch library directory"
#endif
#ifndef QEL_XORG_MODULEDIR
#error "QEL_XORG_MODULEDIR must name the server's module directory"
#endif

namespace qeltest {

namespace {

std::string fromEnv(const char *name, const std::string &fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? value : fallback;
}

}  // namespace

Paths defaultPaths()
{
    Paths p;
    p.buildRoot = fromEnv("QEL_BUILD", QEL_BUILD_ROOT);
    p.moduleDir = p.buildRoot + "/src";
    p.simLibrary = fromEnv("QEL_SIM_LIB", p.buildRoot + "/sim/libqelsim.so");
    p.umockdevPreload = fromEnv("QEL_UMOCKDEV_PRELOAD",
                                std::string(QEL_LIBDIR) + "/libumockdev-preload.so.0");
    p.xorg = fromEnv("QEL_XORG", "/usr/lib/xorg/Xorg");
    p.systemModuleDir = fromEnv("QEL_XORG_MODULEDIR", QEL_XORG_MODULEDIR);
    return p;
}

}  // namespace qeltest
