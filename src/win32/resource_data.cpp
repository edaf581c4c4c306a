#include "win32/resource_data.h"

namespace win32 {

DataResourceLookup FindDataResource(HINSTANCE module, int resourceId) {
  using Found = DataResourceLookup::Found;
  const HRSRC resource =
      ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10) /*RT_RCDATA*/);
  if (!resource) {
    const DWORD error = ::GetLastError();
    // Only the system's own word that there is no such resource means "none"; any other failure of the
    // lookup leaves it open whether the module carries one.
    const bool absent = error == ERROR_RESOURCE_TYPE_NOT_FOUND || error == ERROR_RESOURCE_NAME_NOT_FOUND ||
                        error == ERROR_RESOURCE_LANG_NOT_FOUND;
    return {absent ? Found::None : Found::Unreadable, {}, absent ? ERROR_SUCCESS : error};
  }
  const DWORD size = ::SizeofResource(module, resource);
  const HGLOBAL loaded = size ? ::LoadResource(module, resource) : nullptr;
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes) {
    const DWORD error = ::GetLastError();
    return {Found::Unreadable, {}, error};
  }
  return {Found::Bytes, std::string_view(static_cast<const char*>(bytes), size), ERROR_SUCCESS};
}

}  // namespace win32
