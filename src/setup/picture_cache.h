// The setup window's pictures: decoded from the program's resources once, on first use, and kept
// scaled to each size they are drawn at.
#pragma once

#include <windows.h>

#include <array>
#include <forward_list>
#include <optional>

#include "common/pixels.h"
#include "setup/layout.h"

namespace setup {

class PictureCache {
 public:
  explicit PictureCache(HINSTANCE instance) : instance_(instance) {}

  // The picture scaled by area averaging to width x height pixels, premultiplied; NULL when the
  // program's resource cannot be read. The pointer stays valid as long as the cache.
  const common::Bitmap32* Scaled(Picture picture, int width, int height);

  // The picture at its own size; NULL when the program's resource cannot be read.
  const common::Bitmap32* Original(Picture picture);

 private:
  HINSTANCE instance_;
  static constexpr std::size_t kPictureCount = static_cast<std::size_t>(Picture::LeftPicture) + 1;
  std::array<bool, kPictureCount> decoded_{};
  std::array<std::optional<common::Bitmap32>, kPictureCount> originals_;
  struct ScaledPicture {
    Picture picture;
    int width;
    int height;
    common::Bitmap32 bitmap;
  };
  // A handful of sizes; a list, so that what Scaled returned stays where it is.
  std::forward_list<ScaledPicture> scaled_;
};

}  // namespace setup
