#include "actions/file_system_win32.h"

#include <windows.h>

#include "win32/unique_handle.h"

namespace actions {

namespace {

// Small enough that a read failing part-way still hands back most of what came before it.
constexpr DWORD kReadChunkBytes = 64 * 1024;

}  // namespace

FileRead Win32FileSystem::ReadWholeFile(const std::wstring& path) {
  // Others may read or even rewrite the notes meanwhile; the launcher only needs a snapshot.
  const win32::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return {};

  FileRead read{ReadStatus::Complete, {}};
  LARGE_INTEGER size{};
  // Room for the last, empty read too, so that the whole file is read without moving it once.
  if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 && size.QuadPart < MAXLONG) {
    read.bytes.reserve(static_cast<std::size_t>(size.QuadPart) + kReadChunkBytes);
  }
  for (;;) {
    const std::size_t filled = read.bytes.size();
    read.bytes.resize(filled + kReadChunkBytes);
    DWORD got = 0;
    const BOOL ok = ::ReadFile(file.get(), read.bytes.data() + filled, kReadChunkBytes, &got, nullptr);
    read.bytes.resize(filled + (ok ? got : 0));
    if (!ok) {
      read.status = ReadStatus::CutShort;
      break;
    }
    if (got == 0) break;
  }
  return read;  // the handle closes here on every road
}

bool Win32FileSystem::CopyReplacing(const std::wstring& source, const std::wstring& destination) {
  return ::CopyFileW(source.c_str(), destination.c_str(), /*bFailIfExists=*/FALSE) != FALSE;
}

}  // namespace actions
