// SPDX-License-Identifier: MIT
#include "edid.h"

#include <algorithm>
#include <cstring>

namespace qelsim {
namespace {

constexpr size_t edidSize = 128;
constexpr size_t firstDescriptor = 54;
constexpr size_t descriptorSize = 18;

void putHeader(std::vector<uint8_t> &e, uint32_t serial)
{
    const uint8_t magic[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    std::memcpy(e.data(), magic, sizeof magic);
    // Manufacturer "QSM" in the 5-bit letter code.
    const uint16_t maker = ('Q' - '@') << 10 | ('S' - '@') << 5 | ('M' - '@');
    e[8] = maker >> 8;
    e[9] = maker & 0xff;
    e[10] = 0x20; // product code 0x3120
    e[11] = 0x31;
    for (int i = 0; i < 4; ++i)
        e[12 + i] = static_cast<uint8_t>(serial >> (8 * i));
    e[16] = 1;  // week
    e[17] = 34; // year 2024
    e[18] = 1;  // EDID 1.4
    e[19] = 4;
}

void putBasics(std::vector<uint8_t> &e, uint32_t mmWidth, uint32_t mmHeight)
{
    e[20] = 0xa5; // digital, 8 bits per colour, DisplayPort
    e[21] = static_cast<uint8_t>(std::min<uint32_t>((mmWidth + 5) / 10, 255));
    e[22] = static_cast<uint8_t>(std::min<uint32_t>((mmHeight + 5) / 10, 255));
    e[23] = 120;  // gamma 2.2
    e[24] = 0x0a; // RGB 4:4:4, preferred timing is native
    // sRGB chromaticity.
    const uint8_t colour[10] = {0xee, 0x91, 0xa3, 0x54, 0x4c, 0x99, 0x26, 0x0f, 0x50, 0x54};
    std::memcpy(&e[25], colour, sizeof colour);
    for (size_t i = 38; i < 54; ++i)
        e[i] = 0x01; // no standard timings
}

void putDetailedTiming(uint8_t *d, const drm_mode_modeinfo &m, uint32_t mmW, uint32_t mmH)
{
    const unsigned clock = m.clock / 10;
    const unsigned hblank = m.htotal - m.hdisplay, vblank = m.vtotal - m.vdisplay;
    const unsigned hso = m.hsync_start - m.hdisplay, hsw = m.hsync_end - m.hsync_start;
    const unsigned vso = m.vsync_start - m.vdisplay, vsw = m.vsync_end - m.vsync_start;
    d[0] = clock & 0xff;
    d[1] = clock >> 8;
    d[2] = m.hdisplay & 0xff;
    d[3] = hblank & 0xff;
    d[4] = static_cast<uint8_t>((m.hdisplay >> 8) << 4 | (hblank >> 8));
    d[5] = m.vdisplay & 0xff;
    d[6] = vblank & 0xff;
    d[7] = static_cast<uint8_t>((m.vdisplay >> 8) << 4 | (vblank >> 8));
    d[8] = hso & 0xff;
    d[9] = hsw & 0xff;
    d[10] = static_cast<uint8_t>((vso & 0xf) << 4 | (vsw & 0xf));
    d[11] = static_cast<uint8_t>((hso >> 8) << 6 | (hsw >> 8) << 4 | (vso >> 4) << 2 | (vsw >> 4));
    d[12] = mmW & 0xff;
    d[13] = mmH & 0xff;
    d[14] = static_cast<uint8_t>((mmW >> 8) << 4 | (mmH >> 8));
    const bool hpos = m.flags & DRM_MODE_FLAG_PHSYNC, vpos = m.flags & DRM_MODE_FLAG_PVSYNC;
    d[17] = static_cast<uint8_t>(0x18 | (vpos ? 0x04 : 0) | (hpos ? 0x02 : 0));
}

void putTextDescriptor(uint8_t *d, uint8_t tag, const char *text)
{
    d[3] = tag;
    size_t i = 0;
    for (; text[i] && i < 13; ++i)
        d[5 + i] = static_cast<uint8_t>(text[i]);
    if (i < 13)
        d[5 + i++] = '\n';
    for (; i < 13; ++i)
        d[5 + i] = ' ';
}

void putDummyDescriptor(uint8_t *d)
{
    d[3] = 0x10;
}

} // namespace

std::vector<uint8_t> makeEdid(const drm_mode_modeinfo *preferred, uint32_t mmWidth,
                              uint32_t mmHeight, uint32_t serial)
{
    std::vector<uint8_t> e(edidSize, 0);
    putHeader(e, serial);
    putBasics(e, mmWidth, mmHeight);
    uint8_t *d = &e[firstDescriptor];
    if (preferred)
        putDetailedTiming(d, *preferred, mmWidth, mmHeight);
    else
        putDummyDescriptor(d);
    putTextDescriptor(d + descriptorSize, 0xfc, "QSM Panel");
    putTextDescriptor(d + 2 * descriptorSize, 0xff, "0001");
    putDummyDescriptor(d + 3 * descriptorSize);
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < edidSize; ++i)
        sum = static_cast<uint8_t>(sum + e[i]);
    e[edidSize - 1] = static_cast<uint8_t>(-sum);
    return e;
}

} // namespace qelsim
