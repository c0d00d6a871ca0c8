// SPDX-License-Identifier: MIT
#include "sysfs_testbed.h"

#include "files.h"

#include <string>

namespace qeltest {

namespace {

// Properties libudev reads from a device's uevent file; umockdev keeps no
// separate udev database, so everything the server asks for goes here.
std::string drmUevent(const SysfsDevice &device)
{
    std::string idPath = "platform-" + device.platformName;
    std::string text = "DEVNAME=dri/" + device.nodeName +
                       "\n"
                       "DEVTYPE=drm_minor\n"
                       "MAJOR=226\n"
                       "MINOR=" +
                       std::to_string(device.minor) +
                       "\n"
                       "SUBSYSTEM=drm\n"
                       "TAGS=:seat:master-of-seat:uaccess:\n"
                       "CURRENT_TAGS=:seat:master-of-seat:uaccess:\n"
                       "ID_PATH=" +
                       idPath +
                       "\n"
                       "ID_PATH_TAG=" +
                       idPath +
                       "\n"
                       "ID_FOR_SEAT=drm-" +
                       idPath + "\n";
    if (device.seat)
        text += "ID_SEAT=" + *device.seat + "\n";
    return text;
}

void writePlatformParent(const std::string &sys, const SysfsDevice &device)
{
    const std::string &name = device.platformName;
    const std::string &driver = device.kernelDriver;
    std::string dir = sys + "/devices/platform/" + name;
    makeDirs(dir);
    makeDirs(sys + "/bus/platform/devices");
    makeDirs(sys + "/bus/platform/drivers/" + driver);
    writeFile(dir + "/uevent", "DRIVER=" + driver + "\nMODALIAS=platform:" + name +
                                   "\nOF_COMPATIBLE_N=0\nSUBSYSTEM=platform\n");
    writeFile(dir + "/modalias", "platform:" + name + "\n");
    makeSymlink("../../../bus/platform", dir + "/subsystem");
    makeSymlink("../../../bus/platform/drivers/" + driver, dir + "/driver");
    makeSymlink("../../../devices/platform/" + name, sys + "/bus/platform/devices/" + name);
}

void writeDrmNode(const std::string &sys, const SysfsDevice &device)
{
    std::string devpath = "devices/platform/" + device.platformName + "/drm/" + device.nodeName;
    std::string dir = sys + "/" + devpath;
    std::string devnum = "226:" + std::to_string(device.minor);
    makeDirs(dir);
    makeDirs(sys + "/class/drm");
    makeDirs(sys + "/dev/char");
    writeFile(dir + "/uevent", drmUevent(device));
    writeFile(dir + "/dev", devnum + "\n");
    makeSymlink("../../../../../class/drm", dir + "/subsystem");
    makeSymlink("../../" + devpath, sys + "/class/drm/" + device.nodeName);
    makeSymlink("../../" + devpath, sys + "/dev/char/" + devnum);
}

void writeBacklight(const std::string &sys, const BacklightDevice &backlight)
{
    std::string devpath =
        "devices/platform/backlight-" + backlight.name + "/backlight/" + backlight.name;
    std::string dir = sys + "/" + devpath;
    makeDirs(dir);
    makeDirs(sys + "/class/backlight");
    writeFile(dir + "/uevent", "SUBSYSTEM=backlight\n");
    writeFile(dir + "/type", "raw\n");
    if (backlight.maxBrightness)
        writeFile(dir + "/max_brightness", *backlight.maxBrightness);
    if (backlight.brightness)
        writeFile(dir + "/brightness", *backlight.brightness);
    makeSymlink("../../../../../class/backlight", dir + "/subsystem");
    makeSymlink("../../" + devpath, sys + "/class/backlight/" + backlight.name);
}

} // namespace

void SysfsTestbed::write(const std::string &root, const SysfsDevice &device,
                         const std::vector<BacklightDevice> &backlights)
{
    std::string sys = root + "/sys";
    writePlatformParent(sys, device);
    writeDrmNode(sys, device);
    for (const auto &backlight : backlights)
        writeBacklight(sys, backlight);
    makeDirs(root + "/dev");
}

void SysfsTestbed::writeEmpty(const std::string &root)
{
    for (const char *dir : {"/sys/bus", "/sys/class", "/sys/devices", "/sys/dev/char", "/dev"})
        makeDirs(root + dir);
}

} // namespace qeltest
