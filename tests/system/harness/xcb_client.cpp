#include "xcb_client.h"

#include <algorithm>
#include <cstdlib>
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

// Reads the root window in bands: a whole large screen exceeds the maximum
// request length of a single GetImage reply.
Image XcbClient::rootImage()
{
    Image image;
    image.width = width_;
    image.height = height_;
    image.pixels.reserve(static_cast<size_t>(width_) * height_);
    const int band = 64;
    for (int y = 0; y < height_; y += band) {
        int rows = std::min(band, height_ - y);
        auto cookie = xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, 0,
                                    static_cast<int16_t>(y), static_cast<uint16_t>(width_),
                                    static_cast<uint16_t>(rows), ~0u);
        xcb_get_image_reply_t *reply = xcb_get_image_reply(connection_, cookie, nullptr);
        if (!reply)
            throw std::runtime_error("GetImage of the root window failed");
        auto *words = reinterpret_cast<const uint32_t *>(xcb_get_image_data(reply));
        int stride = xcb_get_image_data_length(reply) / 4 / rows;
        for (int r = 0; r < rows; ++r)
            for (int x = 0; x < width_; ++x)
                image.pixels.push_back(words[r * stride + x] & 0xffffff);
        free(reply);
    }
    return image;
}

}  // namespace qeltest
