// SPDX-License-Identifier: MIT
// Presents whole-screen pixmaps on the root window through the Present
// extension, the path on which a driver with page flips shows frames.
#pragma once

#include "xcb_client.h"

#include <chrono>
#include <cstdint>

namespace qeltest {

struct PresentCompletion {
    bool flipped = false; // CompleteNotify said the frame was flipped, not copied
    uint64_t msc = 0;
};

class PresentClient {
public:
    explicit PresentClient(XcbClient &x);

    // A root-sized pixmap filled with one colour.
    uint32_t filledPixmap(uint32_t rgb);
    // Presents the pixmap at the next vblank and waits for its completion.
    PresentCompletion present(uint32_t pixmap,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    XcbClient &x_;
    uint32_t eventId_ = 0;
    uint32_t serial_ = 0;
    uint8_t presentOpcode_ = 0;

    PresentCompletion awaitCompletion(uint32_t serial, std::chrono::milliseconds timeout);
};

} // namespace qeltest
