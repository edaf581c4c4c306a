#include "common/windows_directory.h"

#include <cstdint>

namespace common {

namespace {

// The count is compared as the signed 32-bit value the launcher has always treated it as, so a count
// with the top bit set is not a size to retry with but a failure.
bool IsUsableCount(unsigned count) {
  return static_cast<std::int32_t>(count) > 0;
}

}  // namespace

std::wstring WindowsDirectoryFrom(const WindowsDirectoryQuery& query, const AnsiDecoder& decodeAnsi) {
  // Blank-filled, as the system only writes the path and its terminator.
  std::string buffer(kFirstWindowsDirectoryBufferSize, ' ');
  unsigned count = query(buffer.data(), kFirstWindowsDirectoryBufferSize);
  if (IsUsableCount(count) && count > kFirstWindowsDirectoryBufferSize) {
    buffer.assign(count, ' ');
    count = query(buffer.data(), count);
    // A path that fits leaves room for its terminator; anything more is a size again (the directory
    // changed between the calls), and the buffer holds no path.
    if (count >= buffer.size()) return {};
  }
  if (!IsUsableCount(count)) return {};
  buffer.resize(count);
  return decodeAnsi(buffer);
}

}  // namespace common
