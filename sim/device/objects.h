// SPDX-License-Identifier: MIT
// The kernel objects the simulated device is made of: dumb buffers,
// framebuffers, CRTCs, encoders, connectors, properties, and the open files.
#pragma once

#include <drm.h>
#include <drm_mode.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qelsim {

// Connection states as GETCONNECTOR reports them.
constexpr uint32_t connectionConnected = 1, connectionDisconnected = 2;

// A dumb buffer: memfd-backed, so the client's mmap and the simulator's own
// mapping share pages.
struct Buffer {
    uint32_t width = 0, height = 0, bpp = 0, pitch = 0;
    uint64_t size = 0;      // what CREATE_DUMB reports: pitch * height
    uint64_t mapSize = 0;   // size rounded up to whole pages
    uint64_t mapOffset = 0; // the fake offset MAP_DUMB hands out
    int memfd = -1;
    uint8_t *pixels = nullptr;

    Buffer() = default;
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    ~Buffer();
};
using BufferRef = std::shared_ptr<Buffer>;

struct Framebuffer {
    uint32_t id = 0;
    uint32_t width = 0, height = 0, pitch = 0, format = 0;
    BufferRef buffer;
};
using FramebufferRef = std::shared_ptr<Framebuffer>;

// One open file description of a device node. dup()ed descriptors share it.
struct DrmFile {
    int eventFd = -1; // the simulator's end of the socketpair
    uint32_t minor = 0;
    uint32_t magic = 0;
    bool authenticated = false;
    bool universalPlanes = false;
    bool wasMaster = false;
    std::map<uint32_t, BufferRef> handles;
    std::vector<uint32_t> framebuffers; // ids, in creation order

    // The lowest handle not in use, as the kernel's idr hands them out: a
    // closed handle is given again to the next buffer, so a driver that
    // uses a stale handle reaches that buffer, as it would on a kernel.
    uint32_t freeHandle() const
    {
        uint32_t handle = 1;
        for (auto it = handles.begin(); it != handles.end() && it->first == handle; ++it)
            ++handle;
        return handle;
    }

    DrmFile() = default;
    DrmFile(const DrmFile &) = delete;
    DrmFile &operator=(const DrmFile &) = delete;
    ~DrmFile();
};
using FileRef = std::shared_ptr<DrmFile>;

struct PendingFlip {
    FramebufferRef fb;
    uint64_t userData = 0;
    bool event = false;
    std::weak_ptr<DrmFile> file;
    uint32_t geSeqno = 0; // GE work the flip must wait for
};

// A WAIT_VBLANK or QUEUE_SEQUENCE event due at vblank TARGET.
struct PendingVblankEvent {
    std::weak_ptr<DrmFile> file;
    size_t crtcIndex = 0;
    uint64_t target = 0;
    uint64_t userData = 0;
    bool sequenceEvent = false;
};

// A CRTC's cursor plane as the legacy cursor ioctls drive it: the buffer
// shown (wrapped as an ARGB8888 image of width * 4 bytes a row, as the
// kernel wraps it), its size and hotspot, and the position of its top-left
// corner relative to the CRTC's mode. Its state outlives mode sets and
// DPMS, as a plane's does.
struct CursorPlane {
    uint32_t maxWidth = 0, maxHeight = 0; // 0: the CRTC has no cursor plane
    BufferRef buffer;                     // null: hidden
    uint32_t width = 0, height = 0;
    int32_t x = 0, y = 0;

    bool present() const { return maxWidth != 0; }
};

// A CRTC's vblank counter as the kernel's vblank core keeps it: it counts
// at the frame rate of the CRTC's mode while the CRTC scans out and stands
// still otherwise; each time the CRTC starts scanning out it steps once more
// (so that no count is seen both before and after a mode set). Timestamps
// are CLOCK_MONOTONIC nanoseconds, each the start of its vblank, so
// consecutive vblanks are exactly one frame duration apart.
struct VblankCounter {
    uint64_t count = 0;
    int64_t lastNs = 0;       // the time of vblank `count`
    int64_t frameNs = 0;      // the mode's frame duration; 0 while not counting
    int64_t nextDeadline = 0; // when the running clock makes the next vblank

    bool counting() const { return frameNs > 0; }
};

struct Crtc {
    uint32_t id = 0, planeId = 0;
    size_t index = 0;
    uint32_t gammaSize = 0;
    bool enabled = false; // has a mode and a framebuffer
    bool active = false;  // enabled and its connectors' DPMS is on
    drm_mode_modeinfo mode{};
    FramebufferRef fb;
    uint32_t x = 0, y = 0;
    std::vector<uint32_t> connectors;
    std::vector<uint16_t> red, green, blue;
    std::optional<PendingFlip> flip;
    CursorPlane cursor;
    VblankCounter vblank;
};

// The framebuffer the CRTC's state names: a flip's framebuffer from the
// moment the flip is accepted, as the kernel's plane state (atomic drivers)
// or plane->fb (legacy ones) holds it, although the CRTC keeps scanning out
// `fb` until the flip completes. GETCRTC, GETPLANE, SETCRTC with fb_id -1
// and RMFB go by this one.
inline const FramebufferRef &committedFramebuffer(const Crtc &crtc)
{
    return crtc.flip ? crtc.flip->fb : crtc.fb;
}

struct Encoder {
    uint32_t id = 0, type = 0;
    uint32_t crtcId = 0;
};

struct Connector {
    uint32_t id = 0, type = 0, typeId = 0, status = 0;
    uint32_t mmWidth = 0, mmHeight = 0;
    uint32_t encoderId = 0;
    uint32_t crtcId = 0;
    uint64_t dpms = DRM_MODE_DPMS_ON;
    uint32_t edidBlob = 0;
    std::vector<drm_mode_modeinfo> modes;
};

struct Property {
    uint32_t id = 0;
    std::string name;
    uint32_t flags = 0;
    std::vector<uint64_t> values;
    std::vector<std::pair<uint64_t, std::string>> enums;
};

} // namespace qelsim
