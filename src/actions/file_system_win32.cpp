#include "actions/file_system_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "actions/extended_path.h"
#include "actions/payload_check.h"
#include "actions/temporary_copy.h"
#include "win32/unique_handle.h"

namespace actions {

namespace {

// Small enough that a read failing part-way still hands back most of what came before it.
constexpr DWORD kReadChunkBytes = 64 * 1024;
constexpr DWORD kCopyChunkBytes = 64 * 1024;
// Names taken by a copy running at the same time are skipped; this many tries is plenty.
constexpr unsigned long kTemporaryNameTries = 16;

// The destination's folder through the file calls, in the "\\?\" form.
class Win32CopyFolder final : public CopyFolder {
 public:
  std::vector<std::wstring> FileNamesStartingWith(const std::wstring& folder,
                                                  const std::wstring& prefix) override {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(ExtendedLengthPath(folder + prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
  }
  void Remove(const std::wstring& path) override { ::DeleteFileW(ExtendedLengthPath(path).c_str()); }
  bool ProcessRuns(unsigned long process) override {
    const win32::UniqueKernelHandle handle(::OpenProcess(SYNCHRONIZE, FALSE, process));
    // Another user's process may refuse to be opened: it runs all the same.
    if (!handle) return ::GetLastError() == ERROR_ACCESS_DENIED;
    return ::WaitForSingleObject(handle.get(), 0) == WAIT_TIMEOUT;
  }
};

// A new, empty file beside the destination, so that it lies on the same volume and can take the
// destination's place in one rename. Returns its handle and fills in its path; on failure the system's
// error stays GetLastError's.
win32::UniqueFileHandle CreateTemporaryBeside(const std::wstring& destination, std::wstring& temporaryPath) {
  const DWORD process = ::GetCurrentProcessId();
  const DWORD tick = ::GetTickCount();
  for (unsigned long attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    temporaryPath = TemporaryCopyPath(destination, process, tick, attempt);
    win32::UniqueFileHandle file(::CreateFileW(ExtendedLengthPath(temporaryPath).c_str(), GENERIC_WRITE, 0,
                                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return win32::UniqueFileHandle{};
}

// The system's error of the failed read or write, or kNoError once everything is copied. A write that
// takes fewer bytes than it was given without an error fails as a full disc does.
SystemError CopyContents(HANDLE from, HANDLE to) {
  std::string buffer(kCopyChunkBytes, '\0');
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(from, buffer.data(), kCopyChunkBytes, &got, nullptr)) return ::GetLastError();
    if (got == 0) return kNoError;
    DWORD written = 0;
    if (!::WriteFile(to, buffer.data(), got, &written, nullptr)) return ::GetLastError();
    if (written != got) return ERROR_DISK_FULL;
  }
}

// Writes all of bytes; the system's error of the failed write, or kNoError.
SystemError WriteContents(HANDLE to, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kCopyChunkBytes));
    DWORD written = 0;
    if (!::WriteFile(to, bytes.data(), chunk, &written, nullptr)) return ::GetLastError();
    if (written != chunk) return ERROR_DISK_FULL;
    bytes.remove_prefix(chunk);
  }
  return kNoError;
}

// A file read in pieces through its handle, closed when it goes.

CopyOutcome CopyFailed(SystemError error) {
  return {false, error};
}

std::uint64_t TimeStamp(const FILETIME& time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME FileTime(std::uint64_t stamp) {
  return {static_cast<DWORD>(stamp & 0xFFFFFFFFu), static_cast<DWORD>(stamp >> 32)};
}

// A copy straight onto the destination that fails part-way (a full disc, an ejected medium, a read
// error) would leave a cut-off DLL where a working one was. The bytes go to a temporary file beside it
// instead, and only a complete copy takes the destination's place, in one rename; on any failure the
// old file stays as it was and the temporary file is removed. fill(to) writes the contents and gives
// the time stamp to carry (0: none), or the system's error.
template <typename Fill>
CopyOutcome ReplaceThroughTemporary(const std::wstring& destination, Fill fill) {
  // A read-only destination is not writable, so the copy fails as a file copy onto it would. The
  // rename below would refuse it on Windows, but not everywhere (Wine replaces it).
  const DWORD destinationAttributes = ::GetFileAttributesW(ExtendedLengthPath(destination).c_str());
  if (destinationAttributes != INVALID_FILE_ATTRIBUTES && (destinationAttributes & FILE_ATTRIBUTE_READONLY))
    return CopyFailed(ERROR_ACCESS_DENIED);

  // A copy that was cut off left its temporary file behind; the file is no use to anyone now. One of
  // another launcher that still runs may be on its way into place.
  Win32CopyFolder folder;
  RemoveLeftoverCopies(destination, ::GetCurrentProcessId(), folder);
  std::wstring temporaryPath;
  win32::UniqueFileHandle to = CreateTemporaryBeside(destination, temporaryPath);
  if (!to) return CopyFailed(::GetLastError());
  std::uint64_t lastWrite = 0;
  SystemError error = fill(to.get(), lastWrite);
  if (error == kNoError && !::FlushFileBuffers(to.get())) error = ::GetLastError();
  // The copy carries the source's time stamp, as a file copy does. Not its attributes: a medium's files
  // are read-only, and a read-only copy could not be replaced by the next deploying click.
  if (error == kNoError && lastWrite != 0) {
    const FILETIME stamp = FileTime(lastWrite);
    ::SetFileTime(to.get(), nullptr, nullptr, &stamp);
  }
  to.reset();

  const std::wstring temporary = ExtendedLengthPath(temporaryPath);
  // Replacing fails, as it should, when the destination is held open by another program (a loaded
  // DLL) or is a folder.
  if (error == kNoError && !::MoveFileExW(temporary.c_str(), ExtendedLengthPath(destination).c_str(),
                                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = ::GetLastError();
  if (error == kNoError) return {true, kNoError};
  ::DeleteFileW(temporary.c_str());
  return CopyFailed(error);
}

}  // namespace

FileRead Win32FileSystem::ReadWholeFile(const std::wstring& path) {
  // Others may read or even rewrite the notes meanwhile; the launcher only needs a snapshot.
  const win32::UniqueFileHandle file(::CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return {ReadStatus::NotOpened, {}, ::GetLastError()};

  FileRead read{ReadStatus::Complete, {}, kNoError};
  FILETIME stamp{};
  if (::GetFileTime(file.get(), nullptr, nullptr, &stamp)) read.lastWriteTime = TimeStamp(stamp);
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
      read.error = ::GetLastError();
      break;
    }
    if (got == 0) break;
  }
  return read;  // the handle closes here on every road
}

std::unique_ptr<HeldFile> Win32FileSystem::OpenForReading(const std::wstring& path) {
  // Shared as ReadWholeFile shares the notes.
  win32::UniqueFileHandle file(::CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return nullptr;
  return HoldOpenFile(std::move(file));
}

CopyOutcome Win32FileSystem::CopyReplacing(const std::wstring& source, const std::wstring& destination) {
  // Read sharing only: a source that someone is writing to is not copied half-written.
  const win32::UniqueFileHandle from(::CreateFileW(ExtendedLengthPath(source).c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!from) return CopyFailed(::GetLastError());
  return ReplaceThroughTemporary(destination, [&](HANDLE to, std::uint64_t& lastWrite) {
    const SystemError error = CopyContents(from.get(), to);
    FILETIME stamp{};
    if (error == kNoError && ::GetFileTime(from.get(), nullptr, nullptr, &stamp))
      lastWrite = TimeStamp(stamp);
    return error;
  });
}

CopyOutcome Win32FileSystem::WriteReplacing(const FileRead& source, const std::wstring& destination) {
  return ReplaceThroughTemporary(destination, [&](HANDLE to, std::uint64_t& lastWrite) {
    lastWrite = source.lastWriteTime;
    return WriteContents(to, source.bytes);
  });
}

namespace {

class Win32ReadFile final : public HeldFile {
 public:
  explicit Win32ReadFile(win32::UniqueFileHandle file) : file_(std::move(file)) {}
  std::optional<std::size_t> Read(std::span<char> buffer) override {
    const DWORD wanted =
        static_cast<DWORD>(std::min<std::size_t>(buffer.size(), std::numeric_limits<DWORD>::max()));
    DWORD got = 0;
    if (!::ReadFile(file_.get(), buffer.data(), wanted, &got, nullptr)) return std::nullopt;
    return got;
  }

 private:
  win32::UniqueFileHandle file_;
};

}  // namespace

std::unique_ptr<HeldFile> HoldOpenFile(win32::UniqueFileHandle file) {
  return std::make_unique<Win32ReadFile>(std::move(file));
}

}  // namespace actions
