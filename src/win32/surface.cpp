#include "win32/surface.h"

#include <algorithm>

namespace win32 {

Surface::Surface(int width, int height) : width_(std::max(1, width)), height_(std::max(1, height)) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width_;
  info.bmiHeader.biHeight = -height_;  // negative: rows run top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  bitmap_.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
  dc_.reset(::CreateCompatibleDC(nullptr));
  if (!bitmap_ || !dc_) {
    bits_ = nullptr;
    return;
  }
  selection_.emplace(dc_.get(), bitmap_.get());
}

common::PixelSurface Surface::Pixels() {
  if (!valid()) return {};  // no pixels to write to
  ::GdiFlush();
  return {static_cast<std::uint32_t*>(bits_), width_, height_};
}

void Surface::Fill(const RECT& area, COLORREF color) {
  // ExtTextOut with ETO_OPAQUE fills with the background colour without needing a brush object.
  const COLORREF previous = ::SetBkColor(dc_.get(), color);
  ::ExtTextOutW(dc_.get(), 0, 0, ETO_OPAQUE, &area, nullptr, 0, nullptr);
  ::SetBkColor(dc_.get(), previous);
}

void Surface::CopyTo(HDC target, int x, int y) const {
  ::BitBlt(target, x, y, width_, height_, dc_.get(), 0, 0, SRCCOPY);
}

}  // namespace win32
