// The clicks' file system on Windows: Unicode paths throughout.
#pragma once

#include <memory>

#include "actions/file_system.h"
#include "win32/unique_handle.h"

namespace actions {

class Win32FileSystem final : public FileSystem {
 public:
  FileRead ReadWholeFile(const std::wstring& path) override;
  std::unique_ptr<HeldFile> OpenForReading(const std::wstring& path) override;
  CopyOutcome CopyReplacing(const std::wstring& source, const std::wstring& destination) override;
  CopyOutcome WriteReplacing(const FileRead& source, const std::wstring& destination) override;
};

// A file read to its end through a handle that it holds, and closes, until it is destroyed.
std::unique_ptr<HeldFile> HoldOpenFile(win32::UniqueFileHandle file);

}  // namespace actions
