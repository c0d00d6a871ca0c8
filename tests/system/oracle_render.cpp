// SPDX-License-Identifier: MIT
#include "oracle_render.h"

#include "xcb_client.h"

#include <xcb/render.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace qeltest {
namespace {

constexpr int kRootWidth = 1024;
constexpr int kRootHeight = 768;
// The pointer starts in the middle of the screen, where the software cursor
// is drawn: requests that reach it make the server take the cursor down
// while they run.
constexpr int kCursorX = kRootWidth / 2;
constexpr int kCursorY = kRootHeight / 2;

// Every operator Render has: Porter-Duff, then the disjoint and conjoint
// sets.
std::vector<uint8_t> everyOperator()
{
    std::vector<uint8_t> ops;
    for (uint8_t op = XCB_RENDER_PICT_OP_CLEAR; op <= XCB_RENDER_PICT_OP_SATURATE; ++op)
        ops.push_back(op);
    for (uint8_t op = XCB_RENDER_PICT_OP_DISJOINT_CLEAR; op <= XCB_RENDER_PICT_OP_DISJOINT_XOR;
         ++op)
        ops.push_back(op);
    for (uint8_t op = XCB_RENDER_PICT_OP_CONJOINT_CLEAR; op <= XCB_RENDER_PICT_OP_CONJOINT_XOR;
         ++op)
        ops.push_back(op);
    return ops;
}

xcb_render_fixed_t fixed(double value)
{
    return static_cast<xcb_render_fixed_t>(value * 65536);
}
xcb_render_pointfix_t point(double x, double y)
{
    return {fixed(x), fixed(y)};
}

// The head of one run of glyphs in a CompositeGlyphs8 request.
struct GlyphRun {
    uint8_t len;
    uint8_t pad[3];
    int16_t deltax;
    int16_t deltay;
};
static_assert(sizeof(GlyphRun) == 8);

struct Formats {
    uint32_t a1 = 0, a8 = 0, argb32 = 0, xrgb24 = 0, rgb16 = 0;
};

Formats queryFormats(xcb_connection_t *c)
{
    xcb_render_query_pict_formats_reply_t *reply =
        xcb_render_query_pict_formats_reply(c, xcb_render_query_pict_formats(c), nullptr);
    if (!reply)
        throw std::runtime_error("RenderQueryPictFormats failed");
    Formats f;
    for (auto it = xcb_render_query_pict_formats_formats_iterator(reply); it.rem;
         xcb_render_pictforminfo_next(&it)) {
        const xcb_render_pictforminfo_t &info = *it.data;
        const xcb_render_directformat_t &d = info.direct;
        if (info.type != XCB_RENDER_PICT_TYPE_DIRECT)
            continue;
        bool rgb8 = d.red_shift == 16 && d.red_mask == 0xff && d.green_shift == 8 &&
                    d.green_mask == 0xff && d.blue_shift == 0 && d.blue_mask == 0xff;
        if (info.depth == 1 && d.alpha_mask == 1)
            f.a1 = info.id;
        else if (info.depth == 8 && d.alpha_mask == 0xff && d.red_mask == 0)
            f.a8 = info.id;
        else if (info.depth == 32 && rgb8 && d.alpha_shift == 24 && d.alpha_mask == 0xff)
            f.argb32 = info.id;
        else if (info.depth == 24 && rgb8 && d.alpha_mask == 0)
            f.xrgb24 = info.id;
        else if (info.depth == 16 && d.alpha_mask == 0 && d.red_shift == 11 && d.red_mask == 0x1f &&
                 d.green_mask == 0x3f && d.blue_mask == 0x1f)
            f.rgb16 = info.id;
    }
    free(reply);
    if (!f.a1 || !f.a8 || !f.argb32 || !f.xrgb24 || !f.rgb16)
        throw std::runtime_error("the server lacks a standard picture format");
    return f;
}

struct Destination {
    const char *name;
    int depth;
    uint32_t format;
};

class Drawer {
public:
    Drawer(xcb_connection_t *c, uint32_t root) : c_(c), root_(root), f_(queryFormats(c)) {}

    Readbacks draw(RenderFamily family)
    {
        switch (family) {
        case RenderFamily::AntialiasedText: return text();
        case RenderFamily::Trapezoids: return shapes("trapezoids", &Drawer::trapezoidsInto);
        case RenderFamily::Triangles: return shapes("triangles", &Drawer::trianglesInto);
        case RenderFamily::MaskedComposites: return composites();
        }
        throw std::logic_error("unknown Render family");
    }

private:
    xcb_connection_t *c_;
    uint32_t root_;
    Formats f_;
    Readbacks out_;
    struct PendingRead {
        std::string name;
        uint32_t drawable;
        int depth, width, height;
    };
    std::vector<PendingRead> reads_;

    uint32_t id() { return xcb_generate_id(c_); }

    uint32_t pixmap(int depth, int width, int height)
    {
        uint32_t p = id();
        xcb_create_pixmap(c_, static_cast<uint8_t>(depth), p, root_, static_cast<uint16_t>(width),
                          static_cast<uint16_t>(height));
        return p;
    }

    uint32_t picture(uint32_t drawable, uint32_t format, uint32_t mask = 0, uint32_t value = 0)
    {
        uint32_t p = id();
        xcb_render_create_picture(c_, p, drawable, format, mask, mask ? &value : nullptr);
        return p;
    }

    void fill(uint32_t picture, uint8_t op, xcb_render_color_t color, int x, int y, int w, int h)
    {
        xcb_rectangle_t r{static_cast<int16_t>(x), static_cast<int16_t>(y),
                          static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
        xcb_render_fill_rectangles(c_, op, picture, color, 1, &r);
    }

    uint32_t solid(xcb_render_color_t color)
    {
        uint32_t p = id();
        xcb_render_create_solid_fill(c_, p, color);
        return p;
    }

    // A 4 x 4 checker of two translucent colours, repeated.
    uint32_t pattern()
    {
        uint32_t pict = picture(pixmap(32, 4, 4), f_.argb32, XCB_RENDER_CP_REPEAT, 1);
        fill(pict, XCB_RENDER_PICT_OP_SRC, {0xffff, 0x8000, 0x0000, 0xc000}, 0, 0, 4, 4);
        fill(pict, XCB_RENDER_PICT_OP_SRC, {0x0000, 0x4000, 0xffff, 0x7000}, 0, 0, 2, 2);
        fill(pict, XCB_RENDER_PICT_OP_SRC, {0x0000, 0x4000, 0xffff, 0x7000}, 2, 2, 2, 2);
        return pict;
    }

    // Pixels set through the core protocol: fills the GE does on a buffer.
    void coreFill(uint32_t drawable, uint32_t pixel, int x, int y, int w, int h)
    {
        uint32_t gc = id();
        xcb_create_gc(c_, gc, drawable, XCB_GC_FOREGROUND, &pixel);
        xcb_rectangle_t r{static_cast<int16_t>(x), static_cast<int16_t>(y),
                          static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
        xcb_poly_fill_rectangle(c_, drawable, gc, 1, &r);
        xcb_free_gc(c_, gc);
    }

    // The root in bands of colour, so that what a request does to it shows.
    uint32_t resetRoot()
    {
        for (int band = 0; band < 12; ++band)
            coreFill(root_, 0x102030u * static_cast<uint32_t>(band + 1) ^ 0x5a3c96u, 0, band * 64,
                     kRootWidth, 64);
        return picture(root_, f_.xrgb24);
    }

    void readLater(const std::string &name, uint32_t drawable, int depth, int width, int height)
    {
        reads_.push_back({name, drawable, depth, width, height});
    }

    Readbacks readAll()
    {
        for (const PendingRead &r : reads_)
            out_[r.name] = {r.depth, getImageBytes(c_, r.drawable, r.width, r.height)};
        return out_;
    }

    // ---- trapezoids and triangles -------------------------------------

    static constexpr int kCellW = 40, kCellH = 30;

    std::vector<Destination> destinations() const
    {
        return {{"a8", 8, f_.a8},
                {"a8r8g8b8", 32, f_.argb32},
                {"x8r8g8b8", 24, f_.xrgb24},
                {"r5g6b5", 16, f_.rgb16}};
    }

    // A destination with something in it for the operator to work on: the
    // depth-24 one is filled by the GE, the others by software.
    uint32_t shapeDestination(const Destination &d, uint32_t &drawable)
    {
        drawable = pixmap(d.depth, kCellW, kCellH);
        if (d.depth == 24) {
            coreFill(drawable, 0x3a7f19, 0, 0, kCellW, kCellH);
            coreFill(drawable, 0xd02080, 0, 10, kCellW, 10);
            return picture(drawable, d.format);
        }
        uint32_t pict = picture(drawable, d.format);
        fill(pict, XCB_RENDER_PICT_OP_SRC, {0x2000, 0x8000, 0xc000, 0xa000}, 0, 0, kCellW, kCellH);
        fill(pict, XCB_RENDER_PICT_OP_SRC, {0xff00, 0x4000, 0x1000, 0x6000}, 0, 10, kCellW, 10);
        return pict;
    }

    using ShapeFn = void (Drawer::*)(size_t, uint8_t, uint32_t, uint32_t, uint32_t);

    // Every operator onto a destination of its own in each format, from a
    // translucent solid or pattern source, with and without a mask format.
    Readbacks shapes(const char *family, ShapeFn draw)
    {
        std::vector<uint8_t> ops = everyOperator();
        uint32_t sources[] = {solid({0xc000, 0x3000, 0x9000, 0xb000}), pattern()};
        for (const Destination &d : destinations()) {
            for (size_t i = 0; i < ops.size(); ++i) {
                uint32_t drawable = 0;
                uint32_t dst = shapeDestination(d, drawable);
                uint32_t maskFormat = (i / 3) % 2 == 0 ? f_.a8 : 0;
                (this->*draw)(i, ops[i], sources[i % 2], dst, maskFormat);
                readLater(std::string(family) + "/" + d.name + "/op " + std::to_string(ops[i]),
                          drawable, d.depth, kCellW, kCellH);
            }
        }
        if (draw == &Drawer::trapezoidsInto)
            addTraps();
        uint32_t window = overTheCursor(family, draw, sources[1]);
        Readbacks readbacks = readAll();
        // Later families find the root as this one found it.
        xcb_destroy_window(c_, window);
        return readbacks;
    }

    // A window under the cursor: the shapes' damage makes the server take
    // the cursor down in the middle of drawing them.
    uint32_t overTheCursor(const char *family, ShapeFn draw, uint32_t source)
    {
        resetRoot();
        uint32_t window = id();
        uint32_t overrideRedirect = 1;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root_,
                          static_cast<int16_t>(kCursorX - kCellW / 2),
                          static_cast<int16_t>(kCursorY - kCellH / 2), kCellW, kCellH, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        xcb_map_window(c_, window);
        uint32_t dst = picture(window, f_.xrgb24);
        coreFill(window, 0x905010, 0, 0, kCellW, kCellH);
        (this->*draw)(0, XCB_RENDER_PICT_OP_SRC, source, dst, f_.a8);
        (this->*draw)(1, XCB_RENDER_PICT_OP_OVER, source, dst, 0);
        readLater(std::string(family) + "/window under the cursor", window, 24, kCellW, kCellH);
        return window;
    }

    void trapezoidsInto(size_t, uint8_t op, uint32_t src, uint32_t dst, uint32_t maskFormat)
    {
        const xcb_render_trapezoid_t traps[] = {
            {fixed(2.5),
             fixed(25.75),
             {point(4, 0), point(10, 30)},
             {point(30, 0), point(36.5, 30)}},
            {fixed(8), fixed(28), {point(15, 8), point(1, 28)}, {point(20.25, 8), point(39, 28)}},
        };
        xcb_render_trapezoids(c_, op, src, dst, maskFormat, 1, 2, 2, traps);
    }

    // Triangles, strips and fans in turn: Render makes all three triangles.
    void trianglesInto(size_t i, uint8_t op, uint32_t src, uint32_t dst, uint32_t maskFormat)
    {
        if (i % 3 == 0) {
            const xcb_render_triangle_t tris[] = {
                {point(3.5, 2.25), point(30.75, 6.5), point(12.25, 26.75)},
                {point(20, 4), point(38.5, 20.5), point(8, 28)},
            };
            xcb_render_triangles(c_, op, src, dst, maskFormat, 1, 2, 2, tris);
        } else if (i % 3 == 1) {
            const xcb_render_pointfix_t strip[] = {point(2, 2), point(10, 27), point(18, 3),
                                                   point(26, 28), point(37.5, 5)};
            xcb_render_tri_strip(c_, op, src, dst, maskFormat, 0, 0, 5, strip);
        } else {
            const xcb_render_pointfix_t fan[] = {point(20, 15), point(3, 3), point(37, 4),
                                                 point(36, 27), point(4, 26)};
            xcb_render_tri_fan(c_, op, src, dst, maskFormat, 3, 1, 5, fan);
        }
    }

    void addTraps()
    {
        uint32_t drawable = 0;
        uint32_t dst = shapeDestination(destinations()[0], drawable);
        const xcb_render_trap_t traps[] = {
            {{fixed(3), fixed(20.5), fixed(2)}, {fixed(0.5), fixed(35), fixed(17.25)}},
            {{fixed(10), fixed(12), fixed(14)}, {fixed(6), fixed(30), fixed(29)}},
        };
        xcb_render_add_traps(c_, dst, 1, -1, 2, traps);
        readLater("trapezoids/a8/add traps", drawable, 8, kCellW, kCellH);
    }

    // ---- text ------------------------------------------------------------

    static constexpr int kGlyphs = 24, kGlyphW = 7, kGlyphH = 11;

    // A glyph set of kGlyphs glyphs in the format, with coverage values
    // from nothing to full.
    uint32_t glyphSet(uint32_t format, int bitsPerPixel)
    {
        uint32_t set = id();
        xcb_render_create_glyph_set(c_, set, format);
        std::vector<uint32_t> ids;
        std::vector<xcb_render_glyphinfo_t> infos;
        std::vector<uint8_t> data;
        int stride = ((kGlyphW * bitsPerPixel + 31) / 32) * 4;
        for (int g = 0; g < kGlyphs; ++g) {
            ids.push_back(static_cast<uint32_t>(g));
            infos.push_back({kGlyphW, kGlyphH, 0, 9, kGlyphW + 1, 0});
            std::vector<uint8_t> rows(static_cast<size_t>(stride) * kGlyphH, 0);
            for (int y = 0; y < kGlyphH; ++y)
                for (int x = 0; x < kGlyphW; ++x)
                    setGlyphPixel(rows, stride, bitsPerPixel, x, y, (x * 37 + y * 19 + g * 11) * 5);
            data.insert(data.end(), rows.begin(), rows.end());
        }
        xcb_render_add_glyphs(c_, set, kGlyphs, ids.data(), infos.data(),
                              static_cast<uint32_t>(data.size()), data.data());
        return set;
    }

    static void setGlyphPixel(std::vector<uint8_t> &rows, int stride, int bpp, int x, int y,
                              int value)
    {
        uint8_t v = static_cast<uint8_t>(value);
        uint8_t *row = &rows[static_cast<size_t>(y) * stride];
        if (bpp == 1) {
            if (v & 0x80)
                row[x / 8] |= static_cast<uint8_t>(1 << (x % 8));
        } else if (bpp == 8) {
            row[x] = v;
        } else {
            uint8_t *p = row + x * 4;
            p[0] = v;
            p[1] = static_cast<uint8_t>(v * 3);
            p[2] = static_cast<uint8_t>(255 - v);
            p[3] = static_cast<uint8_t>(v | 0x40);
        }
    }

    // Two runs of every glyph, the second a line further down.
    std::vector<uint8_t> glyphLine(int dx, int dy)
    {
        std::vector<uint8_t> cmds;
        for (int run = 0; run < 2; ++run) {
            GlyphRun elt{};
            elt.len = kGlyphs;
            elt.deltax = static_cast<int16_t>(run == 0 ? dx : -kGlyphs * (kGlyphW + 1));
            elt.deltay = static_cast<int16_t>(run == 0 ? dy : 13);
            const uint8_t *head = reinterpret_cast<const uint8_t *>(&elt);
            cmds.insert(cmds.end(), head, head + sizeof elt);
            for (int g = 0; g < kGlyphs; ++g)
                cmds.push_back(static_cast<uint8_t>((g * 7 + run) % kGlyphs));
            cmds.resize((cmds.size() + 3) & ~size_t{3}, 0);
        }
        return cmds;
    }

    Readbacks text()
    {
        uint32_t rootPict = resetRoot();
        uint32_t a8 = glyphSet(f_.a8, 8), a1 = glyphSet(f_.a1, 1), rgb = glyphSet(f_.argb32, 32);
        uint32_t sources[] = {solid({0xffff, 0xffff, 0x2000, 0xffff}),
                              solid({0x1000, 0x6000, 0xf000, 0x9000}), pattern()};
        uint32_t onBuffer = pixmap(24, 240, 60), inMemory = pixmap(32, 240, 60);
        uint32_t targets[] = {rootPict, picture(onBuffer, f_.xrgb24), picture(inMemory, f_.argb32)};
        coreFill(onBuffer, 0x204060, 0, 0, 240, 60);
        fill(targets[2], XCB_RENDER_PICT_OP_SRC, {0x8000, 0x8000, 0x8000, 0x8000}, 0, 0, 240, 60);

        const uint8_t ops[] = {XCB_RENDER_PICT_OP_OVER, XCB_RENDER_PICT_OP_ADD,
                               XCB_RENDER_PICT_OP_OVER_REVERSE};
        const uint32_t sets[] = {a8, rgb, a1};
        int line = 0;
        for (uint32_t set : sets) {
            for (uint8_t op : ops) {
                for (int t = 0; t < 3; ++t, ++line) {
                    // Root lines run down through the cursor.
                    int x = t == 0 ? kCursorX - 100 + (line % 5) * 7 : 4 + (line % 4) * 3;
                    int y = t == 0 ? 40 + line * 26 : 12 + (line % 2) * 20;
                    std::vector<uint8_t> cmds = glyphLine(x, y);
                    uint32_t maskFormat = line % 2 ? f_.a8 : 0;
                    xcb_render_composite_glyphs_8(c_, op, sources[line % 3], targets[t], maskFormat,
                                                  set, 0, 0, static_cast<uint32_t>(cmds.size()),
                                                  cmds.data());
                }
            }
        }
        readLater("text/root", root_, 24, kRootWidth, kRootHeight);
        readLater("text/depth-24 pixmap", onBuffer, 24, 240, 60);
        readLater("text/depth-32 pixmap", inMemory, 32, 240, 60);
        return readAll();
    }

    // ---- composites through masks ----------------------------------------

    static constexpr int kImage = 48;

    // An image of the depth put through the core protocol, every pixel
    // different (alpha included).
    uint32_t imagePicture(int depth, uint32_t format, uint32_t mask = 0, uint32_t value = 0)
    {
        uint32_t p = pixmap(depth, kImage, kImage);
        int bytes = depth == 8 ? 1 : 4;
        int stride = ((kImage * bytes + 3) / 4) * 4;
        std::vector<uint8_t> data(static_cast<size_t>(stride) * kImage);
        for (int y = 0; y < kImage; ++y)
            for (int x = 0; x < kImage; ++x)
                for (int b = 0; b < bytes; ++b)
                    data[static_cast<size_t>(y) * stride + x * bytes + b] =
                        static_cast<uint8_t>(x * 5 + y * 3 + b * 60 + (x ^ y) * (b + 1));
        uint32_t gc = id();
        xcb_create_gc(c_, gc, p, 0, nullptr);
        xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, p, gc, kImage, kImage, 0, 0, 0,
                      static_cast<uint8_t>(depth), static_cast<uint32_t>(data.size()), data.data());
        xcb_free_gc(c_, gc);
        return picture(p, format, mask, value);
    }

    void scaled(uint32_t pict)
    {
        xcb_render_transform_t t{fixed(0.75), fixed(0.2), 0, fixed(-0.1), fixed(0.8),
                                 0,           0,          0, fixed(1)};
        xcb_render_set_picture_transform(c_, pict, t);
        xcb_render_set_picture_filter(c_, pict, 8, "bilinear", 0, nullptr);
    }

    Readbacks composites()
    {
        uint32_t rootPict = resetRoot();
        uint32_t src = imagePicture(32, f_.argb32);
        uint32_t transformed = imagePicture(32, f_.argb32);
        scaled(transformed);
        uint32_t masks[] = {imagePicture(8, f_.a8),
                            imagePicture(32, f_.argb32, XCB_RENDER_CP_COMPONENT_ALPHA, 1), 0};
        uint32_t sources[] = {src, transformed, pattern(), solid({0x4000, 0xe000, 0x2000, 0xd000})};

        uint32_t onBuffer = pixmap(24, 320, 200), inMemory = pixmap(32, 320, 200);
        coreFill(onBuffer, 0x6a2040, 0, 0, 320, 200);
        coreFill(onBuffer, 0x10c0a0, 0, 100, 320, 40);
        uint32_t targets[] = {rootPict, picture(onBuffer, f_.xrgb24), picture(inMemory, f_.argb32)};
        fill(targets[2], XCB_RENDER_PICT_OP_SRC, {0x3000, 0x9000, 0x5000, 0xa000}, 0, 0, 320, 200);

        const uint8_t ops[] = {XCB_RENDER_PICT_OP_OVER, XCB_RENDER_PICT_OP_ADD,
                               XCB_RENDER_PICT_OP_IN,   XCB_RENDER_PICT_OP_SRC,
                               XCB_RENDER_PICT_OP_ATOP, XCB_RENDER_PICT_OP_OUT_REVERSE};
        int cell = 0;
        for (uint8_t op : ops)
            for (uint32_t mask : masks)
                for (uint32_t source : sources)
                    for (uint32_t target : targets) {
                        int x = (cell % 6) * 52, y = (cell / 6 % 3) * 60;
                        if (target == rootPict)
                            x += kCursorX - 160, y += kCursorY - 90;
                        xcb_render_composite(
                            c_, op, source, mask, target, static_cast<int16_t>(cell % 7),
                            static_cast<int16_t>(cell % 5), 3, 2, static_cast<int16_t>(x),
                            static_cast<int16_t>(y), kImage, kImage);
                        ++cell;
                    }

        // The copies the GE takes: the root onto itself across the cursor,
        // and onto the depth-24 pixmap.
        xcb_render_composite(c_, XCB_RENDER_PICT_OP_SRC, rootPict, 0, rootPict, kCursorX - 40,
                             kCursorY - 30, 0, 0, 20, 600, 160, 120);
        xcb_render_composite(c_, XCB_RENDER_PICT_OP_OVER, rootPict, 0, rootPict, 0, 0, 0, 0,
                             kCursorX - 20, kCursorY - 20, 120, 100);
        xcb_render_composite(c_, XCB_RENDER_PICT_OP_SRC, rootPict, 0, targets[1], kCursorX - 60,
                             kCursorY - 50, 0, 0, 200, 150, 110, 50);
        // Software reading the root under the cursor, which the server takes
        // down as the source is validated.
        xcb_render_composite(c_, XCB_RENDER_PICT_OP_OVER, rootPict, masks[0], targets[2],
                             kCursorX - 24, kCursorY - 24, 0, 0, 250, 10, kImage, kImage);
        xcb_render_composite(c_, XCB_RENDER_PICT_OP_ADD, rootPict, masks[1], rootPict,
                             kCursorX - 30, kCursorY - 20, 5, 5, kCursorX - 10, kCursorY - 40,
                             kImage, kImage);

        readLater("composite/root", root_, 24, kRootWidth, kRootHeight);
        readLater("composite/depth-24 pixmap", onBuffer, 24, 320, 200);
        readLater("composite/depth-32 pixmap", inMemory, 32, 320, 200);
        return readAll();
    }
};

} // namespace

const char *familyName(RenderFamily family)
{
    switch (family) {
    case RenderFamily::AntialiasedText: return "anti-aliased text";
    case RenderFamily::Trapezoids: return "trapezoids";
    case RenderFamily::Triangles: return "triangles";
    case RenderFamily::MaskedComposites: return "composites through masks";
    }
    return "?";
}

Readbacks drawRenderFamily(xcb_connection_t *connection, uint32_t root, RenderFamily family)
{
    return Drawer(connection, root).draw(family);
}

std::string firstDifference(const Readbacks &expected, const Readbacks &actual)
{
    for (const auto &[name, want] : expected) {
        auto it = actual.find(name);
        if (it == actual.end())
            return name + ": not read back";
        const std::vector<uint8_t> &got = it->second.bytes;
        if (got.size() != want.bytes.size())
            return name + ": " + std::to_string(got.size()) + " bytes, not " +
                   std::to_string(want.bytes.size());
        for (size_t i = 0; i < got.size(); ++i) {
            bool padding = want.depth == 24 && i % 4 == 3;
            if (!padding && got[i] != want.bytes[i])
                return name + ": byte " + std::to_string(i) + " is " + std::to_string(got[i]) +
                       ", not " + std::to_string(want.bytes[i]);
        }
    }
    if (actual.size() != expected.size())
        return "more readbacks than expected";
    return "";
}

} // namespace qeltest
