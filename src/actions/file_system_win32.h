// The clicks' file system on Windows: Unicode paths throughout.
#pragma once

#include "actions/file_system.h"

namespace actions {

class Win32FileSystem final : public FileSystem {
 public:
  FileRead ReadWholeFile(const std::wstring& path) override;
  std::unique_ptr<HeldFile> OpenForReading(const std::wstring& path) override;
  CopyOutcome CopyReplacing(const std::wstring& source, const std::wstring& destination) override;
  CopyOutcome WriteReplacing(const FileRead& source, const std::wstring& destination) override;
};

}  // namespace actions
