#include "win32/picture.h"

#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>

#include "common/compositing.h"
#include "win32/com_pointer.h"
#include "win32/gdi_scope.h"
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
  if (pixels) common::MakeOpaque(*pixels);
  return pixels;
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
