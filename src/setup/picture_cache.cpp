#include "setup/picture_cache.h"

#include "common/image_scale.h"
#include "resources/resource_ids.h"
#include "win32/picture.h"
#include "win32/unique_handle.h"

namespace setup {

const common::Bitmap32* PictureCache::Original(Picture picture) {
  const auto index = static_cast<std::size_t>(picture);
  if (index >= kPictureCount || picture == Picture::None) return nullptr;
  if (!decoded_[index]) {
    decoded_[index] = true;
    switch (picture) {
      case Picture::TitleStripIcon:
      case Picture::PictureButtonIcon: {
        const int id = picture == Picture::TitleStripIcon ? IDI_TITLE_STRIP : IDI_PICTURE_BUTTON;
        win32::UniqueIcon icon(static_cast<HICON>(
            ::LoadImageW(instance_, MAKEINTRESOURCEW(id), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR)));
        originals_[index] = win32::IconBitmap(icon.get());
        break;
      }
      case Picture::BottomPicture:
      case Picture::LeftPicture:
        originals_[index] = win32::DecodePictureResource(
            instance_, picture == Picture::BottomPicture ? IDR_BOTTOM_PICTURE : IDR_LEFT_PICTURE);
        break;
      case Picture::None:
        break;
    }
  }
  return originals_[index] ? &*originals_[index] : nullptr;
}

const common::Bitmap32* PictureCache::Scaled(Picture picture, int width, int height) {
  if (width < 1 || height < 1) return nullptr;
  const auto key = std::make_tuple(picture, width, height);
  if (auto found = scaled_.find(key); found != scaled_.end()) return &found->second;
  const common::Bitmap32* original = Original(picture);
  if (!original) return nullptr;
  auto [entry, inserted] = scaled_.emplace(key, original->width == width && original->height == height
                                                    ? *original
                                                    : common::ScaleByAreaAverage(*original, width, height));
  return &entry->second;
}

void PictureCache::Adopt(PictureCache&& other) {
  for (std::size_t index = 0; index < kPictureCount; ++index) {
    if (decoded_[index] || !other.originals_[index]) continue;
    originals_[index] = std::move(other.originals_[index]);
    decoded_[index] = true;
  }
  // Sizes this cache already has stay as they are; the others move over without a copy.
  scaled_.merge(other.scaled_);
}

}  // namespace setup
