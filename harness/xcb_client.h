// SPDX-License-Identifier: MIT
// A direct X client for tests: draws on the root window and reads it back.
#pragma once

#include "image.h"

#include <cstdint>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace qeltest {

struct Rect {
    int x, y, width, height;
};

// GetImage (ZPixmap, all planes) of a drawable's width x height, read in
// bands below the maximum reply size: the replies' data, one after the
// other, each row with the server's padding.
std::vector<uint8_t> getImageBytes(xcb_connection_t *connection, uint32_t drawable, int width,
                                   int height);
// The same for a drawable of depth 24 at 32 bits per pixel, as pixels
// without their padding byte.
Image getImage24(xcb_connection_t *connection, uint32_t drawable, int width, int height);

class XcbClient {
public:
    explicit XcbClient(const std::string &display);
    ~XcbClient();
    XcbClient(const XcbClient &) = delete;
    XcbClient &operator=(const XcbClient &) = delete;

    xcb_connection_t *connection() const { return connection_; }
    uint32_t root() const { return root_; }
    int rootWidth() const { return width_; }
    int rootHeight() const { return height_; }
    int rootDepth() const { return depth_; }

    // Fills with a 24-bit TrueColor pixel value (0xRRGGBB).
    void fill(const Rect &rect, uint32_t rgb);
    void copy(const Rect &from, int toX, int toY);
    // Waits until the server has processed every request sent so far.
    void sync();
    Image rootImage();

private:
    xcb_connection_t *connection_ = nullptr;
    uint32_t root_ = 0;
    uint32_t gc_ = 0;
    int width_ = 0, height_ = 0, depth_ = 0;
};

} // namespace qeltest
