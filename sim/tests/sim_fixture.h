// SPDX-License-Identifier: MIT
// A fresh simulated device per test, opened through libc as any client
// would open it, with manual vblanks so that tests decide when time passes.
#pragma once

#include "qelsim.h"

#include <gtest/gtest.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <fcntl.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace qelsim::test {

inline const char *manualDevice = R"(
[device]
vblank = manual
[crtc]
gamma_size = 256
[connector]
type = eDP
modes = 1024x768@60 800x600@60
)";

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { configure(manualDevice); }

    void TearDown() override
    {
        for (int fd : fds_)
            close(fd);
    }

    void configure(const char *description)
    {
        for (int fd : fds_)
            close(fd);
        fds_.clear();
        ASSERT_EQ(qelsim_configure(description), 0);
        fd = openDevice();
        ASSERT_GE(fd, 0);
    }

    int openDevice()
    {
        const int f = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
        if (f >= 0)
            fds_.push_back(f);
        return f;
    }

    // The reply to a control request; the last line says ok or error.
    static std::string command(const std::string &request)
    {
        std::vector<char> reply(1 << 18);
        qelsim_command(request.c_str(), reply.data(), reply.size());
        return reply.data();
    }

    static bool succeeds(const std::string &request)
    {
        std::vector<char> reply(1 << 16);
        return qelsim_command(request.c_str(), reply.data(), reply.size()) == 0;
    }

    // The value of one counter.
    static uint64_t counter(const std::string &key)
    {
        std::istringstream lines(command("counters"));
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(key + "=", 0) == 0)
                return std::stoull(line.substr(key.size() + 1));
        return 0;
    }

    struct Dumb {
        uint32_t handle = 0, pitch = 0;
        uint64_t size = 0;
    };

    Dumb createDumb(uint32_t width, uint32_t height, uint32_t bpp = 32)
    {
        drm_mode_create_dumb req{};
        req.width = width;
        req.height = height;
        req.bpp = bpp;
        EXPECT_EQ(drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &req), 0);
        return {req.handle, req.pitch, req.size};
    }

    uint32_t addFb(const Dumb &b, uint32_t width, uint32_t height)
    {
        uint32_t fbId = 0;
        EXPECT_EQ(drmModeAddFB(fd, width, height, 24, 32, b.pitch, b.handle, &fbId), 0);
        return fbId;
    }

    uint32_t *mapDumb(const Dumb &b)
    {
        drm_mode_map_dumb map{};
        map.handle = b.handle;
        EXPECT_EQ(drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map), 0);
        void *p = mmap(nullptr, b.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                       static_cast<off_t>(map.offset));
        EXPECT_NE(p, MAP_FAILED);
        return static_cast<uint32_t *>(p);
    }

    // The first CRTC and connector of the device.
    uint32_t crtcId() { return resourceIds().first; }
    uint32_t connectorId() { return resourceIds().second; }

    // Lights the first CRTC with a new 1024x768 framebuffer; returns its id.
    uint32_t lightPanel()
    {
        const Dumb b = createDumb(1024, 768);
        const uint32_t fbId = addFb(b, 1024, 768);
        drmModeConnector *conn = drmModeGetConnector(fd, connectorId());
        uint32_t connector = conn->connector_id;
        EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), fbId, 0, 0, &connector, 1, &conn->modes[0]), 0);
        drmModeFreeConnector(conn);
        return fbId;
    }

    int fd = -1;

private:
    std::pair<uint32_t, uint32_t> resourceIds()
    {
        drmModeRes *res = drmModeGetResources(fd);
        std::pair<uint32_t, uint32_t> ids{res->crtcs[0], res->connectors[0]};
        drmModeFreeResources(res);
        return ids;
    }

    std::vector<int> fds_;
};

} // namespace qelsim::test
