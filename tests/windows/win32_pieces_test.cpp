// The shared Win32 pieces against the real platform: handle ownership, system-folder loading, the
// executable's path, off-screen surfaces, picture decoding from the program's own resources and the
// start-up's second thread.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <new>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "win32/executable_path.h"
#include "win32/picture.h"
#include "win32/process_hardening.h"
#include "win32/surface.h"
#include "win32/system_library.h"
#include "win32/unique_handle.h"

namespace {

bool IsOpenHandle(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != FALSE;
}

win32::UniqueKernelHandle NewEvent() {
  return win32::UniqueKernelHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
  return text;
}

TEST(UniqueHandle, ClosesExactlyOnceAndHandsOwnershipOn) {
  win32::UniqueKernelHandle first = NewEvent();
  ASSERT_TRUE(first);
  const HANDLE raw = first.get();

  win32::UniqueKernelHandle second(std::move(first));
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): moved-from must be empty
  EXPECT_EQ(second.get(), raw);
  EXPECT_TRUE(IsOpenHandle(raw));

  win32::UniqueKernelHandle third = NewEvent();
  const HANDLE replaced = third.get();
  third = std::move(second);  // the handle third held is closed, raw moves over
  EXPECT_FALSE(IsOpenHandle(replaced));
  EXPECT_EQ(third.get(), raw);

  const HANDLE released = third.release();
  EXPECT_FALSE(third);
  EXPECT_TRUE(IsOpenHandle(released));  // release gives up ownership without closing
  win32::UniqueKernelHandle adopted(released);
  adopted.reset();
  EXPECT_FALSE(IsOpenHandle(released));
}

TEST(UniqueHandle, FileHandlesTreatInvalidHandleValueAsEmpty) {
  win32::UniqueFileHandle missing(
      ::CreateFileW(L"Z:\\no\\such\\folder\\file.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(missing);
  EXPECT_EQ(missing.get(), INVALID_HANDLE_VALUE);
}

TEST(LoadSystemLibrary, LoadsFromTheSystemFolderOnly) {
  const win32::UniqueModule commonControls = win32::LoadSystemLibrary(L"comctl32.dll");
  ASSERT_TRUE(commonControls);
  wchar_t loaded[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(commonControls.get(), loaded, MAX_PATH), 0u);
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
  EXPECT_EQ(Lower(loaded).rfind(Lower(system), 0), 0u) << "loaded from " << loaded;

  EXPECT_FALSE(win32::LoadSystemLibrary(L"no-such-library-anywhere.dll"));
  EXPECT_TRUE(win32::ProcedureAddress<FARPROC>(commonControls.get(), "InitCommonControlsEx"));
  EXPECT_FALSE(win32::ProcedureAddress<FARPROC>(nullptr, "InitCommonControlsEx"));
}

TEST(HardenProcess, SilencesMediumErrorsAndKeepsWhatTheParentSet) {
  const UINT before = ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
  win32::HardenProcess();
  const UINT after = ::SetErrorMode(before);
  // A missing or ejected medium must not bring up the system's "insert a disk" or "cannot open" boxes.
  EXPECT_EQ(after & (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX),
            static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
  EXPECT_TRUE(after & SEM_NOGPFAULTERRORBOX) << "the parent's own setting was dropped";
}

TEST(ExecutablePath, IsTheFullPathOfThisProgram) {
  const std::wstring path = win32::ExecutablePath();
  ASSERT_GT(path.size(), 3u);
  EXPECT_EQ(path[1], L':');
  EXPECT_EQ(Lower(path.substr(path.rfind(L'\\') + 1)), L"windows_tests.exe");
  wchar_t reported[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, reported, MAX_PATH);
  EXPECT_EQ(path, reported);
}

TEST(Surface, GdiAndDirectPixelAccessSeeTheSameTopDownPixels) {
  win32::Surface surface(4, 3);
  ASSERT_TRUE(surface.valid());
  surface.Fill(RECT{0, 0, 4, 3}, RGB(255, 255, 255));
  surface.Fill(RECT{1, 0, 3, 1}, RGB(10, 20, 30));  // the top row, middle two pixels
  const common::PixelSurface pixels = surface.Pixels();
  ASSERT_EQ(pixels.width, 4);
  ASSERT_EQ(pixels.height, 3);
  EXPECT_EQ(pixels.pixels[1] & 0xFFFFFFu, 0x0A141Eu);  // BGRA in memory: red in bits 16-23
  EXPECT_EQ(pixels.pixels[2] & 0xFFFFFFu, 0x0A141Eu);
  EXPECT_EQ(pixels.pixels[0] & 0xFFFFFFu, 0xFFFFFFu);
  EXPECT_EQ(pixels.pixels[4 * 2 + 1] & 0xFFFFFFu, 0xFFFFFFu);

  // Written directly, read back through GDI.
  pixels.pixels[4 * 2 + 3] = 0x00336699u;
  EXPECT_EQ(::GetPixel(surface.dc(), 3, 2), RGB(0x33, 0x66, 0x99));
}

// A 2 x 2 icon without alpha: the top left pixel is transparent by its mask, the others are drawn.
TEST(IconBitmap, TakesTransparencyFromTheMaskInTheRightRows) {
  const std::vector<std::uint32_t> colors{0x00000000u, 0x00FF0000u, 0x0000FF00u, 0x000000FFu};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = 2;
  info.bmiHeader.biHeight = -2;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  win32::UniqueBitmap color(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  ASSERT_TRUE(color);
  std::copy(colors.begin(), colors.end(), static_cast<std::uint32_t*>(bits));
  // Monochrome rows are padded to 16 bits; a set bit shows the background.
  const WORD maskRows[2] = {0x0080, 0x0000};
  win32::UniqueBitmap mask(::CreateBitmap(2, 2, 1, 1, maskRows));
  ICONINFO parts{TRUE, 0, 0, mask.get(), color.get()};
  win32::UniqueIcon icon(::CreateIconIndirect(&parts));
  ASSERT_TRUE(icon);

  const auto picture = win32::IconBitmap(icon.get());
  ASSERT_TRUE(picture);
  ASSERT_EQ(picture->width, 2);
  ASSERT_EQ(picture->height, 2);
  EXPECT_EQ(picture->pixels[0], 0u);
  EXPECT_EQ(picture->pixels[1], 0xFFFF0000u);
  EXPECT_EQ(picture->pixels[2], 0xFF00FF00u);
  EXPECT_EQ(picture->pixels[3], 0xFF0000FFu);
}

TEST(DecodePictureResource, ReadsTheProgramsJpegsAtTheirOwnSize) {
  const HINSTANCE self = ::GetModuleHandleW(nullptr);
  const auto bottom = win32::DecodePictureResource(self, IDR_BOTTOM_PICTURE);
  ASSERT_TRUE(bottom);
  EXPECT_EQ(bottom->width, 410);
  EXPECT_EQ(bottom->height, 274);
  const auto left = win32::DecodePictureResource(self, IDR_LEFT_PICTURE);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->width, 90);
  EXPECT_EQ(left->height, 303);
  EXPECT_TRUE(
      std::all_of(left->pixels.begin(), left->pixels.end(), [](std::uint32_t p) { return p >> 24 == 255; }));
  // Not a blank: a picture has more than one colour.
  EXPECT_NE(std::count(left->pixels.begin(), left->pixels.end(), left->pixels.front()),
            static_cast<std::ptrdiff_t>(left->pixels.size()));
  // The strip is drawn in warm browns: a decoder that mixed up red and blue would show it blue.
  double red = 0;
  double blue = 0;
  for (const std::uint32_t pixel : left->pixels) {
    red += pixel >> 16 & 0xFF;
    blue += pixel & 0xFF;
  }
  EXPECT_GT(red, 1.4 * blue);

  EXPECT_FALSE(win32::DecodePictureResource(self, 4242));
}

}  // namespace
