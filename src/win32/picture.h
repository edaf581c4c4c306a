// Pictures from a program's resources, read into memory as 32-bit pixels. JPEGs go through the
// program's own decoder (common/jpeg_decoder.h), which needs neither COM nor OLE.
#pragma once

#include <windows.h>

#include <optional>

#include "common/pixels.h"

namespace win32 {

// A JPEG held as RCDATA, at its own size, opaque.
std::optional<common::Bitmap32> DecodePictureResource(HINSTANCE instance, int resourceId);

// An icon's image at its own size, premultiplied, with its transparency.
std::optional<common::Bitmap32> IconBitmap(HICON icon);

}  // namespace win32
