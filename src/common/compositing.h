// Putting the window's pictures onto its painted surface. Pictures are kept with premultiplied alpha,
// so that the area-averaging scaler blends a transparent icon border into nothing rather than into the
// black that hides under the icon's mask.
#pragma once

#include <cstdint>
#include <span>

#include "common/pixels.h"

namespace common {

// Source-over composition of a premultiplied picture with its top left corner at (left, top); whatever
// falls outside the surface is clipped. The surface's own alpha is left as it was.
void CompositeOver(PixelSurface surface, int left, int top, const Bitmap32& premultiplied);

// Makes every pixel fully opaque (a decoded JPEG carries no alpha).
void MakeOpaque(Bitmap32& picture);

// An icon's pixels as Windows hands them out: colour (BGRA) and the AND mask (0 where the icon is
// drawn, non-zero where the background shows), both width x height, top-down. Icons with an alpha
// channel use it and ignore the mask; older icons take their transparency from the mask. The result is
// premultiplied.
Bitmap32 IconPicture(int width, int height, std::span<const std::uint32_t> color,
                     std::span<const std::uint32_t> mask);

}  // namespace common
