// SPDX-License-Identifier: MIT
// qel's GE acceleration judged against its own software rendering: the
// same scene (random fills and copies with GXcopy and GXxor, scrolling,
// copies between pixmaps and windows, images, clipped windows, planemasks
// and alus the GE cannot do, filled arcs and polygons, wide and dashed
// lines in every fill style, core text) is drawn
// once with Accel off and once with Accel on, and every pixel a client can
// read back or the panel shows must be the same. The GE runs once synchronously and once on its
// slowed worker thread, so that any CPU access that does not wait for it
// shows. Render's requests (oracle_render.cpp) are judged the same way, one
// family at a time: anti-aliased text, trapezoids and triangles of every
// operator on four destination formats, and composites through masks.
#include "artifacts.h"
#include "oracle_render.h"
#include "xcb_client.h"

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace qeltest;

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kPixmapWidth = 320;
constexpr int kPixmapHeight = 240;

std::string panelWithGe(const std::string &geKeys)
{
    return "[device]\n"
           "nodes = /dev/dri/card0\n" +
           geKeys +
           "[crtc]\n"
           "[connector]\n"
           "type = eDP\n"
           "type_id = 1\n"
           "status = connected\n"
           "mm = 270x203\n"
           "modes = 1024x768@60\n"
           "edid = yes\n";
}

Testbed accelerated(bool on, const std::string &geKeys)
{
    return Testbed()
        .option("Accel", on ? "on" : "off")
        .option("TearFree", "off")
        .simDescription(panelWithGe(geKeys));
}

// What a client and the panel see once the scene is drawn.
struct SceneResult {
    Image root;
    Image pixmap;
    Image moved;
    Image copiedInto;
    Image panel;
    bool drewText = false;
};

// Draws the scene on one server. Every choice comes from a generator with
// a fixed seed, so every server gets the same requests.
class Scene {
public:
    explicit Scene(XcbClient &x) : x_(x), c_(x.connection()) {}

    SceneResult draw(const Session &session)
    {
        gc_ = xcb_generate_id(c_);
        uint32_t noExposures = 0;
        xcb_create_gc(c_, gc_, x_.root(), XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
        createWindows();
        createPixmaps();

        randomFills(x_.root(), kWidth, kHeight, 150, XCB_GX_COPY);
        randomFills(x_.root(), kWidth, kHeight, 80, XCB_GX_XOR);
        randomFills(back_, 420, 300, 40, XCB_GX_COPY);
        randomFills(front_, 300, 220, 40, XCB_GX_XOR);
        putGradient(x_.root(), 600, 40, 200, 150);
        putGradient(back_, 10, 10, 100, 80);

        drawIntoPixmap();
        pixmapsToWindows();
        scroll(x_.root(), 20, 20, 600, 400);
        scroll(back_, 0, 0, 420, 300);
        randomSelfCopies(x_.root(), 40);
        fallbacks();
        arcsAndPolygons();
        wideAndDashedLines();
        SceneResult result;
        result.moved = pixmapsThatMove();
        result.copiedInto = pixmapCopiedIntoInPart();
        result.drewText = drawText();

        x_.sync();
        session.sim().settle(3);
        result.root = getImage(x_.root(), kWidth, kHeight);
        result.pixmap = getImage(pixmap_, kPixmapWidth, kPixmapHeight);
        result.panel = session.capturePanel();
        return result;
    }

private:
    XcbClient &x_;
    xcb_connection_t *c_;
    std::mt19937 random_{20261208};
    uint32_t gc_ = 0;
    uint32_t back_ = 0, front_ = 0;
    uint32_t pixmap_ = 0, small_ = 0;
    uint32_t tile_ = 0, stipple_ = 0;

    int below(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
    uint32_t colour() { return random_() & 0xffffff; }

    void setGc(uint32_t function, uint32_t planeMask, uint32_t foreground)
    {
        uint32_t values[] = {function, planeMask, foreground};
        xcb_change_gc(c_, gc_, XCB_GC_FUNCTION | XCB_GC_PLANE_MASK | XCB_GC_FOREGROUND, values);
    }

    // Two overlapping windows: the lower one is clipped by the upper one.
    void createWindows()
    {
        back_ = window(80, 60, 420, 300, 0x203040);
        front_ = window(360, 200, 300, 220, 0x405060);
    }

    uint32_t window(int x, int y, int width, int height, uint32_t background)
    {
        uint32_t id = xcb_generate_id(c_);
        uint32_t values[] = {background, 1};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id, x_.root(), static_cast<int16_t>(x),
                          static_cast<int16_t>(y), static_cast<uint16_t>(width),
                          static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
                          values);
        xcb_map_window(c_, id);
        return id;
    }

    void createPixmaps()
    {
        pixmap_ = xcb_generate_id(c_);
        xcb_create_pixmap(c_, 24, pixmap_, x_.root(), kPixmapWidth, kPixmapHeight);
        small_ = xcb_generate_id(c_);
        xcb_create_pixmap(c_, 24, small_, x_.root(), 200, 100);
    }

    void fillRect(uint32_t drawable, int x, int y, int width, int height)
    {
        xcb_rectangle_t r{static_cast<int16_t>(x), static_cast<int16_t>(y),
                          static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
        xcb_poly_fill_rectangle(c_, drawable, gc_, 1, &r);
    }

    void copy(uint32_t from, uint32_t to, int srcX, int srcY, int dstX, int dstY, int width,
              int height)
    {
        xcb_copy_area(c_, from, to, gc_, static_cast<int16_t>(srcX), static_cast<int16_t>(srcY),
                      static_cast<int16_t>(dstX), static_cast<int16_t>(dstY),
                      static_cast<uint16_t>(width), static_cast<uint16_t>(height));
    }

    // Rectangles of every size, some reaching past the drawable's edges.
    void randomFills(uint32_t drawable, int width, int height, int count, uint32_t function)
    {
        for (int i = 0; i < count; ++i) {
            setGc(function, ~0u, colour());
            int w = 1 + (i % 4 == 0 ? below(width) : below(64));
            int h = 1 + (i % 4 == 0 ? below(height) : below(64));
            fillRect(drawable, below(width + 40) - 20, below(height + 40) - 20, w, h);
        }
    }

    void putGradient(uint32_t drawable, int atX, int atY, int width, int height)
    {
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                pixels[static_cast<size_t>(y) * width + x] =
                    static_cast<uint32_t>((x * 3) << 16 | (y * 7) << 8 | ((x ^ y) & 0xff));
        setGc(XCB_GX_COPY, ~0u, 0);
        xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, gc_, static_cast<uint16_t>(width),
                      static_cast<uint16_t>(height), static_cast<int16_t>(atX),
                      static_cast<int16_t>(atY), 0, 24,
                      static_cast<uint32_t>(pixels.size() * sizeof(uint32_t)),
                      reinterpret_cast<const uint8_t *>(pixels.data()));
    }

    void drawIntoPixmap()
    {
        setGc(XCB_GX_COPY, ~0u, 0x102030);
        fillRect(pixmap_, 0, 0, kPixmapWidth, kPixmapHeight);
        randomFills(pixmap_, kPixmapWidth, kPixmapHeight, 40, XCB_GX_COPY);
        putGradient(pixmap_, 30, 20, 120, 90);
        // Window to pixmap: the lower window, partly hidden by the upper.
        setGc(XCB_GX_COPY, ~0u, 0);
        copy(back_, pixmap_, 200, 100, 160, 120, 160, 120);
        setGc(XCB_GX_XOR, ~0u, 0);
        copy(x_.root(), pixmap_, 700, 500, 0, 150, 200, 90);
        setGc(XCB_GX_COPY, ~0u, 0);
        copy(pixmap_, small_, 50, 50, 0, 0, 200, 100);
        setGc(XCB_GX_XOR, ~0u, 0);
        copy(pixmap_, small_, 0, 0, 20, 10, 200, 100);
    }

    void pixmapsToWindows()
    {
        for (int i = 0; i < 15; ++i) {
            setGc(i % 3 == 2 ? XCB_GX_XOR : XCB_GX_COPY, ~0u, 0);
            copy(pixmap_, x_.root(), below(kPixmapWidth), below(kPixmapHeight), below(kWidth) - 100,
                 below(kHeight) - 100, 1 + below(kPixmapWidth), 1 + below(kPixmapHeight));
        }
        setGc(XCB_GX_COPY, ~0u, 0);
        copy(pixmap_, front_, 0, 0, 20, 20, kPixmapWidth, kPixmapHeight);
        copy(small_, back_, 0, 0, 250, 150, 200, 100);
    }

    // Overlapping copies in each of the four directions, as scrolling does.
    void scroll(uint32_t drawable, int x, int y, int width, int height)
    {
        setGc(XCB_GX_COPY, ~0u, 0);
        static const int offsets[][2] = {{0, -9}, {0, 13}, {-5, 0}, {7, 0}, {3, -4}, {-6, 5}};
        for (const auto &d : offsets)
            copy(drawable, drawable, x, y, x + d[0], y + d[1], width, height);
    }

    void randomSelfCopies(uint32_t drawable, int count)
    {
        for (int i = 0; i < count; ++i) {
            setGc(i % 4 == 3 ? XCB_GX_XOR : XCB_GX_COPY, ~0u, 0);
            int x = below(kWidth), y = below(kHeight);
            copy(drawable, drawable, x, y, x + below(33) - 16, y + below(33) - 16, 1 + below(300),
                 1 + below(300));
        }
    }

    // Requests the GE cannot do: they fall back to the CPU in the middle
    // of GE work on the same buffers.
    void fallbacks()
    {
        for (int i = 0; i < 10; ++i) {
            setGc(XCB_GX_COPY, 0x00f0f0f0, colour());
            fillRect(x_.root(), below(kWidth), below(kHeight), 1 + below(200), 1 + below(200));
            setGc(i % 2 ? XCB_GX_OR : XCB_GX_AND, ~0u, colour());
            fillRect(x_.root(), below(kWidth), below(kHeight), 1 + below(200), 1 + below(200));
            setGc(XCB_GX_COPY, ~0u, colour());
            fillRect(x_.root(), below(kWidth), below(kHeight), 1 + below(200), 1 + below(200));
        }
        setGc(XCB_GX_COPY, 0x0000ffff, 0);
        copy(x_.root(), x_.root(), 100, 100, 400, 420, 300, 200);
        copy(pixmap_, x_.root(), 0, 0, 10, 500, kPixmapWidth, kPixmapHeight);
        setGc(XCB_GX_XOR, 0x00ff00ff, 0);
        copy(x_.root(), pixmap_, 500, 300, 10, 10, 200, 200);
    }

    // Filled arcs and polygons: spans of a pixel's height, which the CPU
    // fills; with GXxor over what the GE drew.
    void arcsAndPolygons()
    {
        for (int i = 0; i < 12; ++i) {
            setGc(i % 3 == 2 ? XCB_GX_XOR : XCB_GX_COPY, ~0u, colour());
            xcb_arc_t arc{static_cast<int16_t>(below(kWidth - 100)),
                          static_cast<int16_t>(below(kHeight - 100)),
                          static_cast<uint16_t>(8 + below(120)),
                          static_cast<uint16_t>(8 + below(120)),
                          0,
                          360 * 64};
            xcb_poly_fill_arc(c_, i % 2 ? x_.root() : back_, gc_, 1, &arc);
            int x = below(kWidth - 150), y = below(kHeight - 150);
            xcb_point_t points[] = {{static_cast<int16_t>(x + 20), static_cast<int16_t>(y)},
                                    {static_cast<int16_t>(x + 140), static_cast<int16_t>(y + 30)},
                                    {static_cast<int16_t>(x + 90), static_cast<int16_t>(y + 120)},
                                    {static_cast<int16_t>(x), static_cast<int16_t>(y + 70)}};
            xcb_fill_poly(c_, x_.root(), gc_, XCB_POLY_SHAPE_CONVEX, XCB_COORD_MODE_ORIGIN, 4,
                          points);
        }
    }

    // A pixmap moves from system memory into a buffer and is drawn on by
    // the CPU and the GE in turn: software drawing, a copy to the screen
    // (which moves it), a large fill, software drawing again, a copy to the
    // screen. A second pixmap of another size then takes its released
    // buffer: it is drawn on only in part, and must show none of the
    // first's pixels. Returns the second pixmap as a client reads it.
    Image pixmapsThatMove()
    {
        constexpr int kFirstWidth = 400, kFirstHeight = 260;
        constexpr int kSecondWidth = 410, kSecondHeight = 270;
        uint32_t first = xcb_generate_id(c_);
        xcb_create_pixmap(c_, 24, first, x_.root(), kFirstWidth, kFirstHeight);
        softwareDrawing(first, kFirstWidth, kFirstHeight);
        setGc(XCB_GX_COPY, ~0u, 0);
        copy(first, x_.root(), 0, 0, 620, 20, kFirstWidth, kFirstHeight);
        setGc(XCB_GX_COPY, ~0u, 0x5a6b7c);
        fillRect(first, 10, 10, 380, 240);
        softwareDrawing(first, kFirstWidth, kFirstHeight);
        setGc(XCB_GX_XOR, ~0u, 0);
        copy(first, x_.root(), 0, 0, 560, 400, kFirstWidth, kFirstHeight);
        xcb_free_pixmap(c_, first);

        uint32_t second = xcb_generate_id(c_);
        xcb_create_pixmap(c_, 24, second, x_.root(), kSecondWidth, kSecondHeight);
        softwareDrawing(second, kSecondWidth / 2, kSecondHeight / 2);
        setGc(XCB_GX_COPY, ~0u, 0);
        copy(second, x_.root(), 0, 0, 100, 500, kSecondWidth, kSecondHeight);
        Image readBack = getImage(second, kSecondWidth, kSecondHeight);
        xcb_free_pixmap(c_, second);
        return readBack;
    }

    // A new pixmap, very likely in the memory the pixmaps above left, gets a
    // copy from another pixmap into part of it and nothing else: the rest
    // reads as zero.
    Image pixmapCopiedIntoInPart()
    {
        constexpr int kWidth = 400, kHeight = 260;
        uint32_t source = xcb_generate_id(c_);
        xcb_create_pixmap(c_, 24, source, x_.root(), 100, 50);
        setGc(XCB_GX_COPY, ~0u, 0x3c5a78);
        fillRect(source, 0, 0, 100, 50);
        uint32_t pixmap = xcb_generate_id(c_);
        xcb_create_pixmap(c_, 24, pixmap, x_.root(), kWidth, kHeight);
        copy(source, pixmap, 0, 0, 30, 40, 100, 50);
        Image readBack = getImage(pixmap, kWidth, kHeight);
        xcb_free_pixmap(c_, pixmap);
        xcb_free_pixmap(c_, source);
        return readBack;
    }

    // Arcs the CPU draws, some with xor, inside width x height.
    void softwareDrawing(uint32_t drawable, int width, int height)
    {
        for (int i = 0; i < 6; ++i) {
            setGc(i % 2 ? XCB_GX_XOR : XCB_GX_COPY, ~0u, colour());
            xcb_arc_t arc{static_cast<int16_t>(below(width - 20)),
                          static_cast<int16_t>(below(height - 20)),
                          static_cast<uint16_t>(8 + below(40)),
                          static_cast<uint16_t>(8 + below(40)),
                          0,
                          360 * 64};
            xcb_poly_fill_arc(c_, drawable, gc_, 1, &arc);
        }
    }

    // A tile of coloured squares and a stipple of stripes and a diagonal,
    // for the fill styles.
    void createPatterns()
    {
        tile_ = xcb_generate_id(c_);
        xcb_create_pixmap(c_, 24, tile_, x_.root(), 16, 16);
        setGc(XCB_GX_COPY, ~0u, 0x884422);
        fillRect(tile_, 0, 0, 16, 16);
        setGc(XCB_GX_COPY, ~0u, 0x22cc88);
        fillRect(tile_, 0, 0, 8, 8);
        fillRect(tile_, 8, 8, 8, 8);

        stipple_ = xcb_generate_id(c_);
        xcb_create_pixmap(c_, 1, stipple_, x_.root(), 16, 16);
        xcb_gcontext_t bitGc = xcb_generate_id(c_);
        uint32_t clear = 0;
        xcb_create_gc(c_, bitGc, stipple_, XCB_GC_FOREGROUND, &clear);
        xcb_rectangle_t all{0, 0, 16, 16};
        xcb_poly_fill_rectangle(c_, stipple_, bitGc, 1, &all);
        uint32_t set = 1;
        xcb_change_gc(c_, bitGc, XCB_GC_FOREGROUND, &set);
        xcb_rectangle_t stripes[] = {{0, 0, 16, 3}, {0, 8, 16, 2}, {5, 0, 2, 16}};
        xcb_poly_fill_rectangle(c_, stipple_, bitGc, 3, stripes);
        xcb_point_t diagonal[] = {{0, 0}, {15, 15}};
        xcb_poly_line(c_, XCB_COORD_MODE_ORIGIN, stipple_, bitGc, 2, diagonal);
        xcb_free_gc(c_, bitGc);
    }

    // Wide, dashed and double-dashed segments, lines and rectangles in
    // every fill style, with GXcopy, GXxor and a plane mask, onto windows
    // and a pixmap. Double dashes change the GC's colour between dashes
    // while the line is drawn in software.
    void wideAndDashedLines()
    {
        createPatterns();
        static const uint32_t fillStyles[] = {XCB_FILL_STYLE_SOLID, XCB_FILL_STYLE_TILED,
                                              XCB_FILL_STYLE_STIPPLED,
                                              XCB_FILL_STYLE_OPAQUE_STIPPLED};
        static const uint32_t lineStyles[] = {XCB_LINE_STYLE_SOLID, XCB_LINE_STYLE_ON_OFF_DASH,
                                              XCB_LINE_STYLE_DOUBLE_DASH};
        static const uint32_t functions[][2] = {
            {XCB_GX_COPY, ~0u}, {XCB_GX_XOR, ~0u}, {XCB_GX_COPY, 0x00ff00f0}};
        const uint32_t targets[] = {x_.root(), back_, pixmap_};
        int round = 0;
        for (uint32_t fillStyle : fillStyles)
            for (uint32_t lineStyle : lineStyles)
                for (const auto &function : functions) {
                    uint32_t target = targets[round % 3];
                    int width = target == pixmap_ ? kPixmapWidth : 400;
                    int height = target == pixmap_ ? kPixmapHeight : 300;
                    setLineGc(function[0], function[1], fillStyle, lineStyle, round);
                    drawLines(target, width, height);
                    ++round;
                }
        uint32_t solid = XCB_FILL_STYLE_SOLID;
        xcb_change_gc(c_, gc_, XCB_GC_FILL_STYLE, &solid);
    }

    void setLineGc(uint32_t function, uint32_t planeMask, uint32_t fillStyle, uint32_t lineStyle,
                   int round)
    {
        uint32_t values[] = {function,
                             planeMask,
                             colour(),
                             colour(),
                             static_cast<uint32_t>(round % 4 == 0 ? 0 : 1 + round % 9),
                             lineStyle,
                             round % 2 ? XCB_CAP_STYLE_ROUND : XCB_CAP_STYLE_PROJECTING,
                             round % 3 ? XCB_JOIN_STYLE_MITER : XCB_JOIN_STYLE_ROUND,
                             fillStyle,
                             tile_,
                             stipple_,
                             static_cast<uint32_t>(round % 5),
                             static_cast<uint32_t>(round % 7)};
        xcb_change_gc(c_, gc_,
                      XCB_GC_FUNCTION | XCB_GC_PLANE_MASK | XCB_GC_FOREGROUND | XCB_GC_BACKGROUND |
                          XCB_GC_LINE_WIDTH | XCB_GC_LINE_STYLE | XCB_GC_CAP_STYLE |
                          XCB_GC_JOIN_STYLE | XCB_GC_FILL_STYLE | XCB_GC_TILE | XCB_GC_STIPPLE |
                          XCB_GC_TILE_STIPPLE_ORIGIN_X | XCB_GC_TILE_STIPPLE_ORIGIN_Y,
                      values);
        const uint8_t dashes[] = {static_cast<uint8_t>(3 + round % 5), 4, 1, 6};
        xcb_set_dashes(c_, gc_, static_cast<uint16_t>(round % 3), 4, dashes);
    }

    int16_t coordinate(int limit) { return static_cast<int16_t>(below(limit + 40) - 20); }

    void drawLines(uint32_t target, int width, int height)
    {
        xcb_segment_t segments[6];
        for (auto &s : segments)
            s = {coordinate(width), coordinate(height), coordinate(width), coordinate(height)};
        xcb_poly_segment(c_, target, gc_, 6, segments);
        xcb_point_t points[5];
        for (auto &p : points)
            p = {coordinate(width), coordinate(height)};
        xcb_poly_line(c_, XCB_COORD_MODE_ORIGIN, target, gc_, 5, points);
        xcb_rectangle_t rectangle{coordinate(width), coordinate(height),
                                  static_cast<uint16_t>(1 + below(width / 2)),
                                  static_cast<uint16_t>(1 + below(height / 2))};
        xcb_poly_rectangle(c_, target, gc_, 1, &rectangle);
        xcb_arc_t arc{coordinate(width),
                      coordinate(height),
                      static_cast<uint16_t>(4 + below(width / 3)),
                      static_cast<uint16_t>(4 + below(height / 3)),
                      static_cast<int16_t>(below(360) * 64),
                      static_cast<int16_t>(270 * 64)};
        xcb_poly_arc(c_, target, gc_, 1, &arc);
        xcb_poly_fill_arc(c_, target, gc_, 1, &arc);
        xcb_fill_poly(c_, target, gc_, XCB_POLY_SHAPE_COMPLEX, XCB_COORD_MODE_ORIGIN, 5, points);
    }

    // Text in the core font "fixed" when the server has it.
    bool drawText()
    {
        uint32_t font = xcb_generate_id(c_);
        xcb_void_cookie_t opened = xcb_open_font_checked(c_, font, 5, "fixed");
        if (xcb_generic_error_t *error = xcb_request_check(c_, opened)) {
            free(error);
            return false;
        }
        uint32_t values[] = {XCB_GX_COPY, ~0u, 0xffff00, 0x000080, font};
        xcb_change_gc(c_, gc_,
                      XCB_GC_FUNCTION | XCB_GC_PLANE_MASK | XCB_GC_FOREGROUND | XCB_GC_BACKGROUND |
                          XCB_GC_FONT,
                      values);
        const std::string line = "The quick brown fox jumps over the lazy dog 0123456789";
        for (int i = 0; i < 6; ++i) {
            xcb_image_text_8(c_, static_cast<uint8_t>(line.size()), x_.root(), gc_,
                             static_cast<int16_t>(40 + 3 * i), static_cast<int16_t>(300 + 15 * i),
                             line.c_str());
            xcb_image_text_8(c_, static_cast<uint8_t>(line.size()), back_, gc_, 5,
                             static_cast<int16_t>(200 + 13 * i), line.c_str());
        }
        xcb_poly_text_8(c_, front_, gc_, 10, 50, static_cast<uint32_t>(line.size() + 2),
                        textItem(line).data());
        xcb_close_font(c_, font);
        return true;
    }

    static std::vector<uint8_t> textItem(const std::string &text)
    {
        std::vector<uint8_t> item(text.size() + 2);
        item[0] = static_cast<uint8_t>(text.size());
        std::copy(text.begin(), text.end(), item.begin() + 2);
        return item;
    }

    Image getImage(uint32_t drawable, int width, int height)
    {
        return getImage24(c_, drawable, width, height);
    }
};

SceneResult drawScene(const Session &session)
{
    XcbClient x(session.display());
    return Scene(x).draw(session);
}

// Software rendering's answer, drawn once for every test of the file.
const SceneResult &softwareAnswer()
{
    static std::optional<SceneResult> answer;
    if (!answer) {
        auto session = accelerated(false, "").start();
        answer = drawScene(*session);
        session->stop();
    }
    return *answer;
}

// Copies that change destination every time, so that each is a batch of
// its own, from and to a pixmap and the screen: on a slow GE the driver
// runs far ahead unless it bounds the work it has out.
Image floodCopies(const Session &session, int copies)
{
    XcbClient x(session.display());
    xcb_connection_t *c = x.connection();
    xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, 24, pixmap, x.root(), 400, 300);
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    for (int i = 0; i < 8; ++i) {
        uint32_t colour = 0x203040u * static_cast<uint32_t>(i + 1);
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
        xcb_rectangle_t band{0, static_cast<int16_t>(i * 38), 400, 38};
        xcb_poly_fill_rectangle(c, pixmap, gc, 1, &band);
    }
    for (int i = 0; i < copies; ++i) {
        auto at = [i](int span, int k) { return static_cast<int16_t>((i * k) % span); };
        if (i % 2 == 0)
            xcb_copy_area(c, pixmap, x.root(), gc, 0, 0, at(600, 37), at(450, 53), 400, 300);
        else
            xcb_copy_area(c, x.root(), pixmap, gc, at(600, 41), at(450, 29), 0, 0, 400, 300);
    }
    x.sync();
    session.sim().settle(3);
    return getImage24(c, x.root(), kWidth, kHeight);
}

const RenderFamily kRenderFamilies[] = {RenderFamily::AntialiasedText, RenderFamily::Trapezoids,
                                        RenderFamily::Triangles, RenderFamily::MaskedComposites};

// Software rendering's readbacks of every Render family, drawn once for
// every test of the file, on one server.
const Readbacks &softwareRender(RenderFamily family)
{
    static std::map<RenderFamily, Readbacks> answers;
    if (answers.empty()) {
        auto session = accelerated(false, "").start();
        {
            XcbClient x(session->display());
            for (RenderFamily f : kRenderFamilies)
                answers[f] = drawRenderFamily(x.connection(), x.root(), f);
        }
        session->stop();
    }
    return answers.at(family);
}

void expectSame(const Image &expected, const Image &actual, const std::string &what)
{
    auto difference = compareImages(expected, actual);
    EXPECT_FALSE(difference) << what << ": " << difference->describe();
}

// How often the log says a text.
size_t occurrences(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

class QelAccelOracle : public SessionTest {
protected:
    // Faults are armed in the simulator once the server is up; nothing
    // they touch may change a pixel, and the log says each of saidOnce
    // exactly once.
    void checkAgainstSoftware(const std::string &geKeys,
                              const std::vector<std::string> &faults = {},
                              const std::vector<std::string> &saidOnce = {})
    {
        const SceneResult &expected = softwareAnswer();
        start(accelerated(true, geKeys));
        if (HasFatalFailure())
            return;
        ASSERT_NE(session->log().find("EXA("), std::string::npos) << "EXA is not in use";
        for (const std::string &fault : faults)
            session->sim().command("fault " + fault);

        SceneResult actual = drawScene(*session);
        if (!expected.drewText)
            std::cout << "[ INFO     ] no core font \"fixed\": the scene has no text\n";
        EXPECT_EQ(actual.drewText, expected.drewText);
        expectSame(expected.root, actual.root, "GetImage of the root window");
        expectSame(expected.pixmap, actual.pixmap, "GetImage of the pixmap");
        expectSame(expected.moved, actual.moved, "GetImage of the pixmap in a reused buffer");
        expectSame(expected.copiedInto, actual.copiedInto,
                   "GetImage of a new pixmap with a copy into part of it");
        expectSame(expected.panel, actual.panel, "the panel");
        expectSame(actual.root, actual.panel, "the panel against the root window");

        auto counters = session->sim().counters();
        EXPECT_GT(std::stol(counters.at("ge_ops")), 0);
        EXPECT_GT(std::stol(counters.at("ge_submits")), 0);
        EXPECT_EQ(std::stol(counters.at("ge_rejected_ops")), 0);
        if (faults.empty()) {
            EXPECT_EQ(std::stol(counters.at("ge_rejected_submits")), 0);
            return;
        }
        const std::string log = session->log();
        for (const std::string &text : saidOnce)
            EXPECT_EQ(occurrences(log, text), 1u) << text << " in\n" << log;
    }

    // On the slowed GE, where a CPU access that does not wait for it shows.
    void checkRenderAgainstSoftware(RenderFamily family)
    {
        const Readbacks &expected = softwareRender(family);
        start(accelerated(true, "ge = thread\nge_delay_us = 2000\n"));
        if (HasFatalFailure())
            return;
        XcbClient x(session->display());
        Readbacks actual = drawRenderFamily(x.connection(), x.root(), family);
        EXPECT_EQ(firstDifference(expected, actual), "") << familyName(family);
        EXPECT_EQ(session->log().find("EXA bug"), std::string::npos);
    }
};

// The scene moves pixmaps into buffers and has a released buffer reused,
// as the driver says at the end of the generation.
TEST_F(QelAccelOracle, SynchronousGeDrawsWhatSoftwareDraws)
{
    checkAgainstSoftware("ge = sync\n");
    session->stop();
    static const std::regex said(R"(GE: ([0-9]+) pixmaps moved into buffers .* ([0-9]+) reused)");
    std::smatch m;
    const std::string log = session->log();
    ASSERT_TRUE(std::regex_search(log, m, said)) << log;
    EXPECT_GT(std::stol(m[1]), 0);
    EXPECT_GT(std::stol(m[2]), 0);
}

TEST_F(QelAccelOracle, SlowThreadedGeDrawsWhatSoftwareDraws)
{
    checkAgainstSoftware("ge = thread\nge_delay_us = 2000\n");
}

// Batches the kernel refuses (an invalid one, a submission interrupted
// without end, no room and a failing wait for room) are drawn by the CPU, and
// failing waits are tried again: nothing is lost, each kind is said once.
TEST_F(QelAccelOracle, RefusedBatchesStillDrawWhatSoftwareDraws)
{
    checkAgainstSoftware("ge = sync\n", {"submit_einval 6"},
                         {"GE refused a batch of", "Invalid argument"});
}

TEST_F(QelAccelOracle, EndlesslyInterruptedBatchesStillDrawWhatSoftwareDraws)
{
    checkAgainstSoftware("ge = thread\nge_delay_us = 500\n", {"submit_eintr 250"},
                         {"GE refused a batch of", "Interrupted system call"});
}

// A full queue whose room never comes: the batch is refused after the
// patience and drawn by the CPU. The wait's fault is armed first: the
// server's own drawing may meet the full queue as soon as that is armed.
TEST_F(QelAccelOracle, BatchesWithoutRoomStillDrawWhatSoftwareDraws)
{
    checkAgainstSoftware(
        "ge = thread\nge_delay_us = 500\n", {"wait_room 1000000", "submit_eagain 1"},
        {"GE refused a batch of", "Resource temporarily unavailable", "GE wait for seqno 0"});
}

// A GE that stops finishing anything is given up after the patience; what
// it held is drawn by the CPU, and everything after it in software.
TEST_F(QelAccelOracle, AHungGeIsGivenUpAndNothingIsLost)
{
    checkAgainstSoftware("ge = thread\n", {"ge_hang 1"}, {"GE cannot be confirmed idle (hung)"});
}

TEST_F(QelAccelOracle, FailingWaitsStillDrawWhatSoftwareDraws)
{
    checkAgainstSoftware("ge = thread\nge_delay_us = 2000\n", {"wait 40"}, {"GE wait for seqno"});
}

TEST_F(QelAccelOracle, AntialiasedTextDrawsWhatSoftwareDraws)
{
    checkRenderAgainstSoftware(RenderFamily::AntialiasedText);
}

TEST_F(QelAccelOracle, TrapezoidsOfEveryOperatorDrawWhatSoftwareDraws)
{
    checkRenderAgainstSoftware(RenderFamily::Trapezoids);
}

TEST_F(QelAccelOracle, TrianglesOfEveryOperatorDrawWhatSoftwareDraws)
{
    checkRenderAgainstSoftware(RenderFamily::Triangles);
}

TEST_F(QelAccelOracle, CompositesThroughMasksDrawWhatSoftwareDraws)
{
    checkRenderAgainstSoftware(RenderFamily::MaskedComposites);
}

// A GE busy with more than a second of queued copies is not a hung one:
// the driver keeps only a few batches out, waits for them for as long as
// they go on finishing, and goes on drawing with the GE afterwards.
TEST_F(QelAccelOracle, ABusyGeIsWaitedForNotGivenUp)
{
    constexpr int kCopies = 30;
    Image expected;
    {
        auto software = accelerated(false, "").start();
        expected = floodCopies(*software, kCopies);
        software->stop();
    }
    start(accelerated(true, "ge = thread\nge_delay_us = 100000\n"));
    ASSERT_FALSE(HasFatalFailure());
    Image root = floodCopies(*session, kCopies);
    expectSame(expected, root, "GetImage of the root window after the flood");
    expectSame(root, session->capturePanel(), "the panel against the root window");

    long opsAfterFlood = std::stol(session->sim().counters().at("ge_ops"));
    XcbClient x(session->display());
    x.fill({0, 0, 512, 384}, 0x336699);
    x.sync();
    session->sim().settle(3);
    EXPECT_GT(std::stol(session->sim().counters().at("ge_ops")), opsAfterFlood);
    const std::string log = session->log();
    EXPECT_EQ(log.find("hung"), std::string::npos) << log;
    EXPECT_EQ(log.find("GE wait for seqno"), std::string::npos) << log;
    EXPECT_EQ(std::stol(session->sim().counters().at("ge_rejected_submits")), 0);
}

} // namespace

namespace {

// A 33000 pixel wide window reaching from far left of the screen into it:
// its background (painted in window coordinates past 16 bits) covers every
// pixel of it that the screen shows, as software paints it.
TEST_F(QelAccelOracle, AWindowFarOffScreenIsPaintedWhole)
{
    start(Testbed().panel(1024, 768));
    ASSERT_FALSE(HasFatalFailure());
    XcbClient x(session->display());
    xcb_connection_t *c = x.connection();
    const uint32_t background = 0x3366cc;
    xcb_window_t window = xcb_generate_id(c);
    uint32_t values[] = {background, 1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, x.root(), -32000, 20, 33000, 700, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, window);
    x.sync();

    Image root = session->xwdRoot();
    for (int column : {0, 766, 767, 900, 999})
        EXPECT_EQ(root.at(column, 300), background) << "column " << column;
    EXPECT_NE(root.at(1000, 300), background);
    std::optional<PixelDifference> difference = session->awaitPanel(root);
    EXPECT_FALSE(difference) << difference->describe();
}

} // namespace
