// SPDX-License-Identifier: MIT
#include "png_out.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <png.h>

namespace qelsim {
namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

} // namespace

Image imageFromPixels(const uint8_t *pixels, uint32_t pitch, uint32_t w, uint32_t h, bool alpha)
{
    Image img{w, h, alpha, {}};
    const size_t channels = alpha ? 4 : 3;
    img.bytes.resize(size_t{w} * h * channels);
    uint8_t *out = img.bytes.data();
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t *row = pixels + size_t{y} * pitch;
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t p;
            std::memcpy(&p, row + size_t{x} * 4, 4);
            *out++ = static_cast<uint8_t>(p >> 16);
            *out++ = static_cast<uint8_t>(p >> 8);
            *out++ = static_cast<uint8_t>(p);
            if (alpha)
                *out++ = static_cast<uint8_t>(p >> 24);
        }
    }
    return img;
}

Image blackImage(uint32_t w, uint32_t h)
{
    return Image{w, h, false, std::vector<uint8_t>(size_t{w} * h * 3, 0)};
}

bool writePng(const std::string &path, const Image &image)
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file || image.width == 0 || image.height == 0)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, image.width, image.height, 8,
                 image.alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t stride = size_t{image.width} * (image.alpha ? 4 : 3);
    for (uint32_t y = 0; y < image.height; ++y)
        png_write_row(png, image.bytes.data() + y * stride);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace qelsim
