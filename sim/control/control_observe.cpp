// SPDX-License-Identifier: MIT
// Control requests that look at the device: counters, CRTCs, captures,
// buffer contents, the flip log and the GE log.
#include "control_reply.h"
#include "counters_report.h"
#include "cursor_blend.h"
#include "device.h"
#include "instrumentation.h"
#include "png_out.h"

#include <cstdio>
#include <drm_fourcc.h>
#include <fstream>

namespace qelsim {
namespace {

// none (no cursor plane), hidden, or WxH@X,Y: the image's size and the
// position of its top-left corner on the CRTC.
std::string cursorState(const CursorPlane &p)
{
    if (!p.present())
        return "none";
    if (!p.buffer)
        return "hidden";
    return std::to_string(p.width) + "x" + std::to_string(p.height) + "@" + std::to_string(p.x) +
           "," + std::to_string(p.y);
}

std::string crtcLine(const Crtc &c)
{
    std::string connectors;
    for (uint32_t id : c.connectors)
        connectors += (connectors.empty() ? "" : ",") + std::to_string(id);
    char text[256];
    std::snprintf(
        text, sizeof text,
        "crtc index=%zu id=%u active=%d fb=%u x=%u y=%u mode=%ux%u connectors=%s gamma_size=%u",
        c.index, c.id, c.active ? 1 : 0, c.fb ? c.fb->id : 0, c.x, c.y,
        c.enabled ? c.mode.hdisplay : 0, c.enabled ? c.mode.vdisplay : 0, connectors.c_str(),
        c.gammaSize);
    return text + (" vblank=" + std::to_string(c.vblank.count)) +
           " frame_ns=" + std::to_string(c.vblank.frameNs) + " cursor=" + cursorState(c.cursor);
}

// Size of the picture of a CRTC that is off: its panel's preferred mode.
void offSize(const Device &d, const Crtc &c, uint32_t &w, uint32_t &h)
{
    w = h = 1;
    if (c.enabled) {
        w = c.mode.hdisplay;
        h = c.mode.vdisplay;
        return;
    }
    for (const auto &conn : d.connectors) {
        if (!conn.modes.empty() && conn.status == connectionConnected) {
            w = conn.modes.front().hdisplay;
            h = conn.modes.front().vdisplay;
            return;
        }
    }
}

Image captureCrtc(const Device &d, const Crtc &c)
{
    if (!c.active || !c.fb) {
        uint32_t w, h;
        offSize(d, c, w, h);
        return blackImage(w, h);
    }
    const Framebuffer &fb = *c.fb;
    const uint8_t *origin = fb.buffer->pixels + size_t{c.y} * fb.pitch + size_t{c.x} * 4;
    Image image = imageFromPixels(origin, fb.pitch, c.mode.hdisplay, c.mode.vdisplay, false);
    blendCursor(image, c.cursor);
    return image;
}

bool capture(const Words &w, Reply &reply)
{
    unsigned index;
    if (w.size() != 3 || !parseCount(w[1], index))
        return reply.fail("usage: capture <crtc-index> <file.png>");
    Device &d = Device::instance();
    Image image;
    {
        std::lock_guard lock(d.mutex);
        if (index >= d.crtcs.size())
            return reply.fail("no crtc " + w[1]);
        image = captureCrtc(d, d.crtcs[index]);
    }
    return writePng(w[2], image) || reply.fail("cannot write " + w[2]);
}

bool framebufferPng(const Words &w, Reply &reply)
{
    unsigned id;
    if (w.size() != 3 || !parseCount(w[1], id))
        return reply.fail("usage: fb <fb-id> <file.png>");
    Device &d = Device::instance();
    Image image;
    {
        std::lock_guard lock(d.mutex);
        const FramebufferRef fb = d.findFramebuffer(id);
        if (!fb)
            return reply.fail("no framebuffer " + w[1]);
        image = imageFromPixels(fb->buffer->pixels, fb->pitch, fb->width, fb->height,
                                fb->format == DRM_FORMAT_ARGB8888);
    }
    return writePng(w[2], image) || reply.fail("cannot write " + w[2]);
}

bool bufferDump(const Words &w, Reply &reply)
{
    unsigned handle;
    if (w.size() != 3 || !parseCount(w[1], handle))
        return reply.fail("usage: buffer <handle> <file>");
    Device &d = Device::instance();
    std::lock_guard lock(d.mutex);
    const BufferRef b = d.findBufferAnywhere(handle);
    if (!b)
        return reply.fail("no buffer " + w[1]);
    std::ofstream out(w[2], std::ios::binary);
    out.write(reinterpret_cast<const char *>(b->pixels), static_cast<std::streamsize>(b->size));
    if (!out)
        return reply.fail("cannot write " + w[2]);
    reply.lines.push_back(
        "width=" + std::to_string(b->width) + " height=" + std::to_string(b->height) +
        " pitch=" + std::to_string(b->pitch) + " size=" + std::to_string(b->size));
    return true;
}

bool crtcs(Reply &reply)
{
    Device &d = Device::instance();
    std::lock_guard lock(d.mutex);
    for (const auto &c : d.crtcs)
        reply.lines.push_back(crtcLine(c));
    return true;
}

} // namespace

bool controlObserve(const Words &w, Reply &reply, bool &known)
{
    known = true;
    const std::string &verb = w[0];
    if (verb == "counters") {
        reply.lines = counterLines(Device::instance());
        return true;
    }
    if (verb == "crtcs")
        return crtcs(reply);
    if (verb == "capture")
        return capture(w, reply);
    if (verb == "fb")
        return framebufferPng(w, reply);
    if (verb == "buffer")
        return bufferDump(w, reply);
    if (verb == "fliplog") {
        reply.lines = Instrumentation::instance().flipLogLines();
        return true;
    }
    known = false;
    return false;
}

} // namespace qelsim
