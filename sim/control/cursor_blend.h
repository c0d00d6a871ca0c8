// SPDX-License-Identifier: MIT
// What a CRTC's cursor plane adds to the picture it shows.
#pragma once

#include "objects.h"
#include "png_out.h"

namespace qelsim {

// Blends the plane's image, premultiplied ARGB8888, over IMAGE (the CRTC's
// picture, RGB, at its mode's size) with its top-left corner at the plane's
// position, as the display blends the planes: each channel is
// src + dst * (255 - alpha) / 255, rounded and saturated. A hidden plane
// changes nothing.
void blendCursor(Image &image, const CursorPlane &plane);

} // namespace qelsim
