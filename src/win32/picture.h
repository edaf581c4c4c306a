// The window's pictures: decoded from the program's resources once, on first use, and kept scaled to
// each size they are drawn at. JPEGs go through OleLoadPicture, which every Windows version has.
#pragma once

#include <windows.h>

#include <array>
#include <map>
#include <optional>
#include <tuple>

#include "setup/image_scale.h"
#include "setup/layout.h"

namespace win32 {

// A JPEG (or any format OleLoadPicture reads) held as RCDATA, at its own size, opaque.
std::optional<setup::Bitmap32> DecodePictureResource(HINSTANCE instance, int resourceId);

// An icon's image at its own size, premultiplied, with its transparency.
std::optional<setup::Bitmap32> IconBitmap(HICON icon);

class PictureCache {
 public:
  explicit PictureCache(HINSTANCE instance) : instance_(instance) {}

  // The picture scaled by area averaging to width x height pixels, premultiplied; NULL when the
  // program's resource cannot be read. The pointer stays valid as long as the cache.
  const setup::Bitmap32* Scaled(setup::Picture picture, int width, int height);

 private:
  const setup::Bitmap32* Original(setup::Picture picture);

  HINSTANCE instance_;
  static constexpr std::size_t kPictureCount = 5;
  std::array<bool, kPictureCount> decoded_{};
  std::array<std::optional<setup::Bitmap32>, kPictureCount> originals_;
  std::map<std::tuple<setup::Picture, int, int>, setup::Bitmap32> scaled_;
};

}  // namespace win32
