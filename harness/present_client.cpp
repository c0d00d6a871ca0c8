// SPDX-License-Identifier: MIT
#include "present_client.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include <poll.h>
#include <xcb/present.h>
#include <xcb/xcb.h>

namespace qeltest {

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// The Present event of the given kind in a generic event, or null.
const xcb_present_complete_notify_event_t *asCompleteNotify(const xcb_generic_event_t *event,
                                                            uint8_t opcode)
{
    if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
        return nullptr;
    auto *generic = reinterpret_cast<const xcb_ge_generic_event_t *>(event);
    if (generic->extension != opcode || generic->event_type != XCB_PRESENT_COMPLETE_NOTIFY)
        return nullptr;
    return reinterpret_cast<const xcb_present_complete_notify_event_t *>(event);
}

} // namespace

PresentClient::PresentClient(XcbClient &x)
    : x_(x), window_(x.root()), width_(x.rootWidth()), height_(x.rootHeight())
{
    selectEvents();
}

PresentClient::PresentClient(XcbClient &x, const Rect &area)
    : x_(x), width_(area.width), height_(area.height)
{
    xcb_connection_t *c = x_.connection();
    window_ = xcb_generate_id(c);
    const uint32_t overrideRedirect = 1;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, x_.root(), static_cast<int16_t>(area.x),
                      static_cast<int16_t>(area.y), static_cast<uint16_t>(area.width),
                      static_cast<uint16_t>(area.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
    xcb_map_window(c, window_);
    selectEvents();
    x_.sync();
}

void PresentClient::selectEvents()
{
    xcb_connection_t *c = x_.connection();
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_present_id);
    if (!ext || !ext->present)
        throw std::runtime_error("the server has no Present extension");
    presentOpcode_ = ext->major_opcode;
    Reply<xcb_present_query_version_reply_t> version(
        xcb_present_query_version_reply(c, xcb_present_query_version(c, 1, 2), nullptr));
    eventId_ = xcb_generate_id(c);
    xcb_present_select_input(c, eventId_, window_, XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY);
}

uint32_t PresentClient::filledPixmap(uint32_t rgb)
{
    xcb_connection_t *c = x_.connection();
    uint32_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, static_cast<uint8_t>(x_.rootDepth()), pixmap, x_.root(),
                      static_cast<uint16_t>(width_), static_cast<uint16_t>(height_));
    uint32_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, XCB_GC_FOREGROUND, &rgb);
    xcb_rectangle_t all{0, 0, static_cast<uint16_t>(width_), static_cast<uint16_t>(height_)};
    xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
    xcb_free_gc(c, gc);
    return pixmap;
}

PresentCompletion PresentClient::present(uint32_t pixmap, std::chrono::milliseconds timeout)
{
    return await(presentAt(pixmap, 0), timeout);
}

uint32_t PresentClient::presentAt(uint32_t pixmap, uint64_t targetMsc)
{
    uint32_t serial = ++serial_;
    if (pixmap)
        xcb_present_pixmap(x_.connection(), window_, pixmap, serial, 0, 0, 0, 0, 0, 0, 0,
                           XCB_PRESENT_OPTION_NONE, targetMsc, 0, 0, 0, nullptr);
    else
        xcb_present_notify_msc(x_.connection(), window_, serial, targetMsc, 0, 0);
    xcb_flush(x_.connection());
    return serial;
}

uint32_t PresentClient::notifyAt(uint64_t targetMsc)
{
    return presentAt(0, targetMsc);
}

PresentCompletion PresentClient::now()
{
    return await(notifyAt(0));
}

PresentCompletion PresentClient::await(uint32_t serial, std::chrono::milliseconds timeout)
{
    xcb_connection_t *c = x_.connection();
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        while (xcb_generic_event_t *raw = xcb_poll_for_event(c)) {
            Reply<xcb_generic_event_t> event(raw);
            auto *done = asCompleteNotify(event.get(), presentOpcode_);
            if (done && done->window == window_)
                unclaimed_[done->serial] = {done->mode == XCB_PRESENT_COMPLETE_MODE_FLIP, done->msc,
                                            done->ust};
        }
        if (auto found = unclaimed_.find(serial); found != unclaimed_.end()) {
            const PresentCompletion completion = found->second;
            unclaimed_.erase(found);
            return completion;
        }
        if (xcb_connection_has_error(c))
            throw std::runtime_error("X connection lost while waiting for a Present completion");
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw std::runtime_error("no Present completion within the timeout");
        pollfd pfd{xcb_get_file_descriptor(c), POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            throw std::runtime_error("poll on the X connection failed");
    }
}

} // namespace qeltest
