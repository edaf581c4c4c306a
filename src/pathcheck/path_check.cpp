#include "pathcheck/path_check.h"

#include "common/components.h"

namespace pathcheck {

std::wstring DaoLibraryPath(std::wstring_view windowsDirectory) {
  std::wstring path(windowsDirectory);
  path += common::kDaoLibrary.destination;
  return path;
}

void ClickCommand1(const std::function<std::wstring()>& getWinDir,
                   const std::function<void(const std::wstring& text)>& showMessage) {
  showMessage(DaoLibraryPath(getWinDir()));
}

}  // namespace pathcheck
