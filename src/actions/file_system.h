// The files a click reads and copies, as an interface: the Win32 layer implements it
// (file_system_win32.h), the unit tests fake it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "actions/system_error.h"

namespace actions {

class HeldFile;  // payload_check.h

// A file's full path: the base directory, which ends in its backslash, and the name below it.
inline std::wstring Join(std::wstring_view head, std::wstring_view tail) {
  std::wstring joined;
  joined.reserve(head.size() + tail.size());
  joined.append(head).append(tail);
  return joined;
}

enum class ReadStatus {
  NotOpened,  // missing or unreadable: nothing was read
  CutShort,   // opened, but a read failed part-way: bytes holds what came before the failure
  Complete,   // read to its end
};

struct FileRead {
  ReadStatus status = ReadStatus::NotOpened;
  std::string bytes;
  SystemError error = kNoError;     // why it did not open, or why the read stopped
  std::uint64_t lastWriteTime = 0;  // the file's time stamp in the system's own units; 0 when unknown
};

struct CopyOutcome {
  bool copied = false;
  SystemError error = kNoError;  // why the copy failed
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The file is closed again before this returns, whatever happened, so no click leaves it open.
  virtual FileRead ReadWholeFile(const std::wstring& path) = 0;
  // The file opened for reading from its start, in pieces, for as long as the caller holds it; null when
  // it is missing or unreadable. For a file that need not be held whole (the notes), nor read twice.
  virtual std::unique_ptr<HeldFile> OpenForReading(const std::wstring& path) = 0;
  // Replaces an existing destination.
  virtual CopyOutcome CopyReplacing(const std::wstring& source, const std::wstring& destination) = 0;
  // Writes the bytes of a file read before, with its time stamp, in the way CopyReplacing copies: the
  // destination is either replaced whole or left as it was.
  virtual CopyOutcome WriteReplacing(const FileRead& source, const std::wstring& destination) = 0;
};

}  // namespace actions
