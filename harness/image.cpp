// SPDX-License-Identifier: MIT
#include "image.h"

#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <png.h>

namespace qeltest {

std::string PixelDifference::describe() const
{
    if (x < 0)
        return "images differ in size";
    std::ostringstream out;
    out << count << " pixels differ; first at (" << x << "," << y << "): expected 0x" << std::hex
        << expected << ", got 0x" << actual;
    return out.str();
}

Image crop(const Image &image, int x, int y, int width, int height)
{
    Image out{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, 0)};
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            if (x + column >= 0 && y + row >= 0 && x + column < image.width &&
                y + row < image.height)
                out.pixels[static_cast<size_t>(row) * width + column] =
                    image.at(x + column, y + row);
    return out;
}

std::optional<PixelDifference> compareImages(const Image &expected, const Image &actual)
{
    if (expected.width != actual.width || expected.height != actual.height)
        return PixelDifference{-1, -1, 0, 0, 1};
    std::optional<PixelDifference> diff;
    for (int y = 0; y < expected.height; ++y) {
        for (int x = 0; x < expected.width; ++x) {
            uint32_t e = expected.at(x, y) & 0xffffff, a = actual.at(x, y) & 0xffffff;
            if (e == a)
                continue;
            if (!diff)
                diff = PixelDifference{x, y, e, a, 0};
            diff->count++;
        }
    }
    return diff;
}

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File openFile(const std::string &path, const char *mode)
{
    File f(std::fopen(path.c_str(), mode));
    if (!f)
        throw std::runtime_error("cannot open " + path);
    return f;
}

} // namespace

Image readPng(const std::string &path)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        throw std::runtime_error("cannot read PNG " + path + ": " + png.message);
    png.format = PNG_FORMAT_BGRA; // little-endian words 0xAARRGGBB
    Image image;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.pixels.resize(static_cast<size_t>(png.width) * png.height);
    if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr))
        throw std::runtime_error("cannot decode PNG " + path + ": " + png.message);
    for (auto &p : image.pixels)
        p &= 0xffffff;
    return image;
}

void writePng(const Image &image, const std::string &path)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_BGRA;
    std::vector<uint32_t> opaque(image.pixels);
    for (auto &p : opaque)
        p |= 0xff000000u;
    File f = openFile(path, "wb");
    if (!png_image_write_to_stdio(&png, f.get(), 0, opaque.data(), 0, nullptr))
        throw std::runtime_error("cannot write PNG " + path + ": " + png.message);
}

namespace {

// The XWD file header: 25 big-endian 32-bit fields, then the window name.
enum XwdField {
    HeaderSize,
    FileVersion,
    PixmapFormat,
    PixmapDepth,
    PixmapWidth,
    PixmapHeight,
    XOffset,
    ByteOrder,
    BitmapUnit,
    BitmapBitOrder,
    BitmapPad,
    BitsPerPixel,
    BytesPerLine,
    VisualClass,
    RedMask,
    GreenMask,
    BlueMask,
    BitsPerRgb,
    ColormapEntries,
    NColors,
    WindowWidth,
    WindowHeight,
    WindowX,
    WindowY,
    WindowBorderWidth,
    FieldCount
};

uint32_t bigEndian32(const std::string &data, size_t offset)
{
    auto b = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(data[offset + i]));
    };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

uint32_t pixelWord(const std::string &data, size_t offset, bool msbFirst)
{
    auto b = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(data[offset + i]));
    };
    return msbFirst ? b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3)
                    : b(3) << 24 | b(2) << 16 | b(1) << 8 | b(0);
}

int shiftOf(uint32_t mask)
{
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

uint32_t toRgb(uint32_t word, const uint32_t *h)
{
    uint32_t r = (word & h[RedMask]) >> shiftOf(h[RedMask]);
    uint32_t g = (word & h[GreenMask]) >> shiftOf(h[GreenMask]);
    uint32_t b = (word & h[BlueMask]) >> shiftOf(h[BlueMask]);
    return r << 16 | g << 8 | b;
}

} // namespace

Image decodeXwd(const std::string &data)
{
    if (data.size() < FieldCount * 4)
        throw std::runtime_error("XWD data too short");
    uint32_t h[FieldCount];
    for (int i = 0; i < FieldCount; ++i)
        h[i] = bigEndian32(data, static_cast<size_t>(i) * 4);
    if (h[FileVersion] != 7 || h[PixmapFormat] != 2 || h[BitsPerPixel] != 32)
        throw std::runtime_error("unsupported XWD: version " + std::to_string(h[FileVersion]) +
                                 ", format " + std::to_string(h[PixmapFormat]) + ", " +
                                 std::to_string(h[BitsPerPixel]) + " bpp");
    size_t pixelsAt = h[HeaderSize] + static_cast<size_t>(h[NColors]) * 12; // XWDColor entries
    Image image;
    image.width = static_cast<int>(h[PixmapWidth]);
    image.height = static_cast<int>(h[PixmapHeight]);
    if (data.size() < pixelsAt + static_cast<size_t>(h[BytesPerLine]) * image.height)
        throw std::runtime_error("XWD data truncated");
    image.pixels.reserve(static_cast<size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.pixels.push_back(toRgb(
                pixelWord(data, pixelsAt + y * h[BytesPerLine] + x * 4, h[ByteOrder] == 1), h));
    return image;
}

} // namespace qeltest
