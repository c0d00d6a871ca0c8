// SPDX-License-Identifier: MIT
#include "xcb_client.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <xcb/xcb.h>

namespace qeltest {

XcbClient::XcbClient(const std::string &display)
{
    int screenNumber = 0;
    connection_ = xcb_connect(display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection_)) {
        xcb_disconnect(connection_);
        throw std::runtime_error("cannot connect to X display " + display);
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    root_ = it.data->root;
    width_ = it.data->width_in_pixels;
    height_ = it.data->height_in_pixels;
    depth_ = it.data->root_depth;
    gc_ = xcb_generate_id(connection_);
    uint32_t noExposures = 0;
    xcb_create_gc(connection_, gc_, root_, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
}

XcbClient::~XcbClient()
{
    xcb_disconnect(connection_);
}

void XcbClient::fill(const Rect &rect, uint32_t rgb)
{
    xcb_change_gc(connection_, gc_, XCB_GC_FOREGROUND, &rgb);
    xcb_rectangle_t r{static_cast<int16_t>(rect.x), static_cast<int16_t>(rect.y),
                      static_cast<uint16_t>(rect.width), static_cast<uint16_t>(rect.height)};
    xcb_poly_fill_rectangle(connection_, root_, gc_, 1, &r);
}

void XcbClient::copy(const Rect &from, int toX, int toY)
{
    xcb_copy_area(connection_, root_, root_, gc_, static_cast<int16_t>(from.x),
                  static_cast<int16_t>(from.y), static_cast<int16_t>(toX),
                  static_cast<int16_t>(toY), static_cast<uint16_t>(from.width),
                  static_cast<uint16_t>(from.height));
}

void XcbClient::sync()
{
    free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

std::vector<uint8_t> getImageBytes(xcb_connection_t *connection, uint32_t drawable, int width,
                                   int height)
{
    std::vector<uint8_t> bytes;
    const int band = 64;
    for (int y = 0; y < height; y += band) {
        int rows = std::min(band, height - y);
        auto cookie = xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, 0,
                                    static_cast<int16_t>(y), static_cast<uint16_t>(width),
                                    static_cast<uint16_t>(rows), ~0u);
        xcb_get_image_reply_t *reply = xcb_get_image_reply(connection, cookie, nullptr);
        if (!reply)
            throw std::runtime_error("GetImage failed");
        const uint8_t *data = xcb_get_image_data(reply);
        bytes.insert(bytes.end(), data, data + xcb_get_image_data_length(reply));
        free(reply);
    }
    return bytes;
}

Image getImage24(xcb_connection_t *connection, uint32_t drawable, int width, int height)
{
    std::vector<uint8_t> bytes = getImageBytes(connection, drawable, width, height);
    size_t stride = height > 0 ? bytes.size() / static_cast<size_t>(height) : 0;
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const uint8_t *row = bytes.data() + y * stride;
        for (int x = 0; x < width; ++x) {
            uint32_t word;
            std::memcpy(&word, row + x * 4, sizeof word);
            image.pixels.push_back(word & 0xffffff);
        }
    }
    return image;
}

Image XcbClient::rootImage()
{
    return getImage24(connection_, root_, width_, height_);
}

} // namespace qeltest
