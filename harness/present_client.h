// SPDX-License-Identifier: MIT
// A Present client on one window (the root window, or a child of it made
// for the client): presents pixmaps, now or at a target MSC, and asks for
// the window's MSC, as compositors, players and toolkits pace their frames.
// It reads the connection's events itself: one client per connection.
#pragma once

#include "xcb_client.h"

#include <chrono>
#include <cstdint>
#include <map>

namespace qeltest {

struct PresentCompletion {
    bool flipped = false; // CompleteNotify said the frame was flipped, not copied
    uint64_t msc = 0;
    uint64_t ust = 0;
};

class PresentClient {
public:
    // On the root window.
    explicit PresentClient(XcbClient &x);
    // On a new window, mapped at that rectangle of the root window.
    PresentClient(XcbClient &x, const Rect &window);

    uint32_t window() const { return window_; }

    // A pixmap of the window's size filled with one colour.
    uint32_t filledPixmap(uint32_t rgb);
    // Presents the pixmap at the next vblank and waits for its completion.
    PresentCompletion present(uint32_t pixmap,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // PresentPixmap at a target MSC (PresentNotifyMSC when pixmap is 0);
    // returns the serial that await() takes.
    uint32_t presentAt(uint32_t pixmap, uint64_t targetMsc);
    uint32_t notifyAt(uint64_t targetMsc);
    // The CompleteNotify of that request. Completions of other requests
    // read meanwhile are kept for their own await().
    PresentCompletion await(uint32_t serial,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The window's MSC now and the UST of that vblank (a NotifyMSC that
    // completes at once).
    PresentCompletion now();

private:
    XcbClient &x_;
    uint32_t window_ = 0;
    int width_ = 0, height_ = 0;
    uint32_t eventId_ = 0;
    uint32_t serial_ = 0;
    uint8_t presentOpcode_ = 0;
    std::map<uint32_t, PresentCompletion> unclaimed_; // by serial

    void selectEvents();
};

} // namespace qeltest
