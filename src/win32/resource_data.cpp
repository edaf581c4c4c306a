#include "win32/resource_data.h"

namespace win32 {

std::optional<std::string_view> DataResource(HINSTANCE module, int resourceId) {
  const HRSRC resource =
      ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10) /*RT_RCDATA*/);
  if (!resource) return std::nullopt;
  const DWORD size = ::SizeofResource(module, resource);
  const HGLOBAL loaded = ::LoadResource(module, resource);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes) return std::nullopt;
  return std::string_view(static_cast<const char*>(bytes), size);
}

}  // namespace win32
