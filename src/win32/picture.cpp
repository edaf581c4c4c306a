#include "win32/picture.h"

#include <cstdint>
#include <string_view>

#include "common/compositing.h"
#include "common/jpeg_decoder.h"
#include "win32/gdi_scope.h"
#include "win32/resource_data.h"
#include "win32/unique_handle.h"

namespace win32 {
namespace {

// The bitmap's pixels as 32-bpp top-down rows.
std::optional<common::Bitmap32> ReadBitmap(HBITMAP bitmap, int width, int height) {
  if (width <= 0 || height <= 0) return std::nullopt;
  common::Bitmap32 result{width, height,
                          std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
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

std::optional<common::Bitmap32> DecodePictureResource(HINSTANCE instance, int resourceId) {
  const DataResourceLookup resource = FindDataResource(instance, resourceId);
  if (resource.found != DataResourceLookup::Found::Bytes) return std::nullopt;
  return common::DecodeJpeg(
      {reinterpret_cast<const std::uint8_t*>(resource.bytes.data()), resource.bytes.size()});
}

std::optional<common::Bitmap32> IconBitmap(HICON icon) {
  ICONINFO parts{};
  if (!icon || !::GetIconInfo(icon, &parts)) return std::nullopt;
  UniqueBitmap color(parts.hbmColor);
  UniqueBitmap mask(parts.hbmMask);
  BITMAP header{};
  if (!color || !::GetObjectW(color.get(), sizeof header, &header)) return std::nullopt;
  auto colorPixels = ReadBitmap(color.get(), header.bmWidth, header.bmHeight);
  auto maskPixels = ReadBitmap(mask.get(), header.bmWidth, header.bmHeight);
  if (!colorPixels) return std::nullopt;
  return common::IconPicture(
      header.bmWidth, header.bmHeight, colorPixels->pixels,
      maskPixels ? std::span<const std::uint32_t>(maskPixels->pixels) : std::span<const std::uint32_t>());
}

}  // namespace win32
