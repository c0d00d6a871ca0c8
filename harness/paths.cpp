// SPDX-License-Identifier: MIT
#include "paths.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#ifndef QEL_BUILD_ROOT
#error "QEL_BUILD_ROOT must name the build directory"
#endif
#ifndef QEL_SOURCE_ROOT
#error "QEL_SOURCE_ROOT must name the source tree"
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

// Emulated, the server starts and draws 5-20 times more slowly.
constexpr int emulationSlowdown = 10;

std::string absolute(const std::string &path)
{
    return std::filesystem::absolute(path).lexically_normal().string();
}

// The source tree the build was configured from, where .armhf/ and
// build-armhf/ are by default.
std::string sourceRoot()
{
    return QEL_SOURCE_ROOT;
}

Paths nativePaths()
{
    Paths p;
    p.buildRoot = fromEnv("QEL_BUILD", QEL_BUILD_ROOT);
    p.umockdevPreload = std::string(QEL_LIBDIR) + "/libumockdev-preload.so.0";
    p.xorg = "/usr/lib/xorg/Xorg";
    p.systemModuleDir = QEL_XORG_MODULEDIR;
    return p;
}

Paths armhfPaths()
{
    std::string sysroot = absolute(fromEnv("QEL_ARMHF_SYSROOT", sourceRoot() + "/.armhf"));
    Paths p;
    p.arch = "armhf";
    p.buildRoot = absolute(fromEnv("QEL_ARMHF_BUILD", sourceRoot() + "/build-armhf"));
    p.umockdevPreload = sysroot + "/usr/lib/arm-linux-gnueabihf/libumockdev-preload.so.0";
    p.xorg = sysroot + "/usr/lib/xorg/Xorg";
    p.systemModuleDir = sysroot + "/usr/lib/xorg/modules";
    std::string libraries = sysroot + "/usr/lib/arm-linux-gnueabihf:" + sysroot + "/usr/lib";
    p.emulation = {{"qemu-arm-static"},
                   {sysroot + "/usr/lib/ld-linux-armhf.so.3", "--library-path", libraries},
                   {{"LIBGL_DRIVERS_PATH", sysroot + "/usr/lib/arm-linux-gnueabihf/dri"}}};
    p.slowdown = emulationSlowdown;
    return p;
}

Paths pathsForArch(const std::string &arch)
{
    if (arch == "native")
        return nativePaths();
    if (arch == "armhf")
        return armhfPaths();
    throw std::invalid_argument("QEL_ARCH is native or armhf, not " + arch);
}

} // namespace

Paths defaultPaths()
{
    Paths p = pathsForArch(fromEnv("QEL_ARCH", "native"));
    p.moduleDir = p.buildRoot + "/src";
    p.simLibrary = fromEnv("QEL_SIM_LIB", p.buildRoot + "/sim/libqelsim.so");
    p.umockdevPreload = fromEnv("QEL_UMOCKDEV_PRELOAD", p.umockdevPreload);
    p.xorg = fromEnv("QEL_XORG", p.xorg);
    p.systemModuleDir = fromEnv("QEL_XORG_MODULEDIR", p.systemModuleDir);
    return p;
}

} // namespace qeltest
