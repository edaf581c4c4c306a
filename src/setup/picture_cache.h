// The setup window's pictures: decoded from the program's resources once, on first use, and kept
// scaled to each size they are drawn at. A cache is used by one thread at a time: one filled on another
// thread is handed over whole (Adopt) once that thread has ended.
#pragma once

#include <windows.h>

#include <array>
#include <map>
#include <optional>
#include <tuple>

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

  // Takes over the pictures that another cache made and this one has not. What the other one failed to
  // make is not taken: this cache tries it again itself on first use.
  void Adopt(PictureCache&& other);

 private:
  HINSTANCE instance_;
  static constexpr std::size_t kPictureCount = static_cast<std::size_t>(Picture::LeftPicture) + 1;
  std::array<bool, kPictureCount> decoded_{};
  std::array<std::optional<common::Bitmap32>, kPictureCount> originals_;
  std::map<std::tuple<Picture, int, int>, common::Bitmap32> scaled_;
};

}  // namespace setup
