#include "win32/picture.h"

#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>

#include "resources/resource_ids.h"
#include "setup/compositing.h"
#include "win32/com_pointer.h"
#include "win32/gdi_scope.h"
#include "win32/unique_handle.h"

namespace win32 {
namespace {

// The bitmap's pixels as 32-bpp top-down rows.
std::optional<setup::Bitmap32> ReadBitmap(HBITMAP bitmap, int width, int height) {
  if (width <= 0 || height <= 0) return std::nullopt;
  setup::Bitmap32 result{width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  WindowDcScope screen(nullptr);
  if (::GetDIBits(screen.dc(), bitmap, 0, static_cast<UINT>(height), result.pixels.data(), &info,
                  DIB_RGB_COLORS) != height)
    return std::nullopt;
  return result;
}

}  // namespace

std::optional<setup::Bitmap32> DecodePictureResource(HINSTANCE instance, int resourceId) {
  HRSRC resource =
      ::FindResourceW(instance, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10) /*RT_RCDATA*/);
  if (!resource) return std::nullopt;
  const DWORD size = ::SizeofResource(instance, resource);
  const void* bytes = ::LockResource(::LoadResource(instance, resource));
  if (!bytes || size == 0) return std::nullopt;

  // The stream frees this memory when it is released.
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, size);
  if (!memory) return std::nullopt;
  if (void* target = ::GlobalLock(memory)) {
    std::memcpy(target, bytes, size);
    ::GlobalUnlock(memory);
  }
  ComPointer<IStream> stream;
  if (FAILED(::CreateStreamOnHGlobal(memory, TRUE, stream.out()))) {
    ::GlobalFree(memory);
    return std::nullopt;
  }
  ComPointer<IPicture> picture;
  if (FAILED(::OleLoadPicture(stream.get(), static_cast<LONG>(size), FALSE, IID_IPicture, picture.outVoid())))
    return std::nullopt;
  OLE_HANDLE handle = 0;
  SHORT type = PICTYPE_UNINITIALIZED;
  if (FAILED(picture->get_Type(&type)) || type != PICTYPE_BITMAP || FAILED(picture->get_Handle(&handle)))
    return std::nullopt;
  // The picture keeps owning the bitmap; its pixels are read at the size the file has.
  const auto bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
  BITMAP header{};
  if (!::GetObjectW(bitmap, sizeof header, &header)) return std::nullopt;
  auto pixels = ReadBitmap(bitmap, header.bmWidth, header.bmHeight);
  if (pixels) setup::MakeOpaque(*pixels);
  return pixels;
}

std::optional<setup::Bitmap32> IconBitmap(HICON icon) {
  ICONINFO parts{};
  if (!icon || !::GetIconInfo(icon, &parts)) return std::nullopt;
  UniqueBitmap color(parts.hbmColor);
  UniqueBitmap mask(parts.hbmMask);
  BITMAP header{};
  if (!color || !::GetObjectW(color.get(), sizeof header, &header)) return std::nullopt;
  auto colorPixels = ReadBitmap(color.get(), header.bmWidth, header.bmHeight);
  auto maskPixels = ReadBitmap(mask.get(), header.bmWidth, header.bmHeight);
  if (!colorPixels) return std::nullopt;
  return setup::IconPicture(
      header.bmWidth, header.bmHeight, colorPixels->pixels,
      maskPixels ? std::span<const std::uint32_t>(maskPixels->pixels) : std::span<const std::uint32_t>());
}

const setup::Bitmap32* PictureCache::Original(setup::Picture picture) {
  const auto index = static_cast<std::size_t>(picture);
  if (index >= kPictureCount || picture == setup::Picture::None) return nullptr;
  if (!decoded_[index]) {
    decoded_[index] = true;
    switch (picture) {
      case setup::Picture::TitleStripIcon:
      case setup::Picture::PictureButtonIcon: {
        const int id = picture == setup::Picture::TitleStripIcon ? IDI_TITLE_STRIP : IDI_PICTURE_BUTTON;
        UniqueIcon icon(static_cast<HICON>(
            ::LoadImageW(instance_, MAKEINTRESOURCEW(id), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR)));
        originals_[index] = IconBitmap(icon.get());
        break;
      }
      case setup::Picture::BottomPicture:
        originals_[index] = DecodePictureResource(instance_, IDR_BOTTOM_PICTURE);
        break;
      case setup::Picture::LeftPicture:
        originals_[index] = DecodePictureResource(instance_, IDR_LEFT_PICTURE);
        break;
      case setup::Picture::None:
        break;
    }
  }
  return originals_[index] ? &*originals_[index] : nullptr;
}

const setup::Bitmap32* PictureCache::Scaled(setup::Picture picture, int width, int height) {
  if (width < 1 || height < 1) return nullptr;
  const auto key = std::make_tuple(picture, width, height);
  if (auto found = scaled_.find(key); found != scaled_.end()) return &found->second;
  const setup::Bitmap32* original = Original(picture);
  if (!original) return nullptr;
  auto [entry, inserted] = scaled_.emplace(key, original->width == width && original->height == height
                                                    ? *original
                                                    : setup::ScaleByAreaAverage(*original, width, height));
  return &entry->second;
}

}  // namespace win32
