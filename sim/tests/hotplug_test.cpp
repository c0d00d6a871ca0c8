// SPDX-License-Identifier: MIT
// Plugging a display into a connector and pulling it out: what the
// connector then reports, and the uevent that announces it to the
// listeners of a umockdev testbed.
#include "sim_fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>

namespace qelsim::test {
namespace {

const char *panelAndMonitor = R"(
[device]
vblank = manual
[crtc]
[crtc]
[connector]
type = eDP
modes = 1024x768@60
[connector]
type = HDMI-A
status = disconnected
modes = 1280x1024@60
)";

class Hotplug : public SimTest {
protected:
    void SetUp() override { configure(panelAndMonitor); }

    drmModeConnector *monitor()
    {
        drmModeRes *res = drmModeGetResources(fd);
        drmModeConnector *c = drmModeGetConnector(fd, res->connectors[1]);
        drmModeFreeResources(res);
        return c;
    }

    // The value of the connector's EDID property (a blob id; 0: none).
    uint64_t edidOf(const drmModeConnector *c)
    {
        for (int i = 0; i < c->count_props; ++i) {
            drmModePropertyRes *p = drmModeGetProperty(fd, c->props[i]);
            const bool edid = std::strcmp(p->name, "EDID") == 0;
            drmModeFreeProperty(p);
            if (edid)
                return c->prop_values[i];
        }
        ADD_FAILURE() << "no EDID property";
        return 0;
    }
};

TEST_F(Hotplug, APluggedDisplayBringsItsModesAndEdidAndTakesThemAlongWhenPulled)
{
    drmModeConnector *c = monitor();
    EXPECT_EQ(c->connection, DRM_MODE_DISCONNECTED);
    EXPECT_EQ(edidOf(c), 0u);
    drmModeFreeConnector(c);

    ASSERT_TRUE(succeeds("connector 1 connected 1920x1080@60 800x600"));
    c = monitor();
    EXPECT_EQ(c->connection, DRM_MODE_CONNECTED);
    ASSERT_EQ(c->count_modes, 2);
    EXPECT_STREQ(c->modes[0].name, "1920x1080");
    EXPECT_TRUE(c->modes[0].type & DRM_MODE_TYPE_PREFERRED);
    const uint64_t edid = edidOf(c);
    drmModePropertyBlobRes *blob = drmModeGetPropertyBlob(fd, static_cast<uint32_t>(edid));
    ASSERT_NE(blob, nullptr);
    // The preferred timing's width, from the first detailed descriptor.
    const auto *bytes = static_cast<const uint8_t *>(blob->data);
    EXPECT_EQ(bytes[56] | (bytes[58] >> 4) << 8, 1920);
    drmModeFreePropertyBlob(blob);
    drmModeFreeConnector(c);

    ASSERT_TRUE(succeeds("connector 1 disconnected"));
    c = monitor();
    EXPECT_EQ(c->connection, DRM_MODE_DISCONNECTED);
    EXPECT_EQ(c->count_modes, 0);
    EXPECT_EQ(edidOf(c), 0u);
    EXPECT_EQ(drmModeGetPropertyBlob(fd, static_cast<uint32_t>(edid)), nullptr);
    drmModeFreeConnector(c);

    // Plugged in again without saying what it offers: the same display.
    ASSERT_TRUE(succeeds("connector 1 connected"));
    c = monitor();
    ASSERT_EQ(c->count_modes, 2);
    EXPECT_STREQ(c->modes[0].name, "1920x1080");
    drmModeFreeConnector(c);

    EXPECT_FALSE(succeeds("connector 2 connected"));
    EXPECT_FALSE(succeeds("connector 1 disconnected 800x600"));
    EXPECT_FALSE(succeeds("connector 1 connected 800y600"));
    EXPECT_FALSE(succeeds("connector 1 plugged"));
}

// The kernel leaves a CRTC lit when its display goes away.
TEST_F(Hotplug, PullingTheDisplayOfALitCrtcLeavesItScanningOut)
{
    lightPanel();
    ASSERT_TRUE(succeeds("connector 0 disconnected"));
    EXPECT_NE(command("crtcs").find("active=1"), std::string::npos);
}

// A testbed as umockdev lays it out: the node's sysfs entry, and one
// listener's socket where libudev's monitor would be bound.
class UeventListener {
public:
    UeventListener()
        : root_(std::filesystem::temp_directory_path() /
                ("qelsim-uevent-" + std::to_string(getpid())))
    {
        namespace fs = std::filesystem;
        const fs::path node = root_ / "sys/devices/platform/tx3120/drm/card0";
        fs::create_directories(node);
        fs::create_directories(root_ / "sys/dev/char");
        std::ofstream(node / "uevent") << "MAJOR=226\nMINOR=0\nDEVNAME=dri/card0\n"
                                          "DEVTYPE=drm_minor\nSUBSYSTEM=drm\nTAGS=:seat:\n";
        fs::create_symlink("../../devices/platform/tx3120/drm/card0", root_ / "sys/dev/char/226:0");
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, (root_ / "event7").c_str());
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        setenv("UMOCKDEV_DIR", root_.c_str(), 1);
    }

    ~UeventListener()
    {
        unsetenv("UMOCKDEV_DIR");
        close(fd_);
        std::filesystem::remove_all(root_);
    }

    // The properties of the next uevent, after the 40-byte header.
    std::vector<std::string> receive()
    {
        char buffer[4096];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 40 || std::memcmp(buffer, "libudev", 8) != 0)
            return {};
        std::vector<std::string> properties;
        for (ssize_t at = 40; at < n; at += static_cast<ssize_t>(properties.back().size()) + 1)
            properties.emplace_back(buffer + at);
        return properties;
    }

private:
    std::filesystem::path root_;
    int fd_ = -1;
};

bool has(const std::vector<std::string> &properties, const std::string &property)
{
    return std::find(properties.begin(), properties.end(), property) != properties.end();
}

TEST_F(Hotplug, TheCardAnnouncesTheChangeToEveryUeventListener)
{
    EXPECT_NE(command("connector 1 connected").find("uevent listeners=0\n"), std::string::npos);

    UeventListener listener;
    EXPECT_NE(command("connector 1 disconnected").find("uevent listeners=1\n"), std::string::npos);
    const std::vector<std::string> uevent = listener.receive();
    drmModeConnector *c = monitor();
    for (const std::string &property : std::vector<std::string>{
             "ACTION=change", "DEVPATH=/devices/platform/tx3120/drm/card0", "SUBSYSTEM=drm",
             "HOTPLUG=1", "CONNECTOR=" + std::to_string(c->connector_id), "DEVNAME=dri/card0",
             "DEVTYPE=drm_minor", "MAJOR=226", "MINOR=0", "TAGS=:seat:"})
        EXPECT_TRUE(has(uevent, property)) << property;
    drmModeFreeConnector(c);
}

} // namespace
} // namespace qelsim::test
