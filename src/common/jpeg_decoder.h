// JPEG pictures decoded by the program itself, from bytes in memory. The system's decoders need COM
// and OLE, whose loading and start-up would delay the window's first paint.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "common/pixels.h"

namespace common {

// A baseline or progressive JPEG at its own size, opaque; empty when the bytes are not a JPEG the
// decoder reads.
std::optional<Bitmap32> DecodeJpeg(std::span<const std::uint8_t> bytes);

}  // namespace common
