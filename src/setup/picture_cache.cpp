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
  for (const ScaledPicture& made : scaled_) {
    if (made.picture == picture && made.width == width && made.height == height) return &made.bitmap;
  }
  const common::Bitmap32* original = Original(picture);
  if (!original) return nullptr;
  scaled_.push_front({picture, width, height,
                      original->width == width && original->height == height
                          ? *original
                          : common::ScaleByAreaAverage(*original, width, height)});
  return &scaled_.front().bitmap;
}

}  // namespace setup
