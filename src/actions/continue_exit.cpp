#include "actions/continue_exit.h"

namespace actions {

std::wstring InstallerPath(std::wstring_view baseDirectory) {
  std::wstring path(baseDirectory);
  path += kInstallerRelativePath;
  return path;
}

std::wstring InstallerCommandLine(std::wstring_view installerPath) {
  std::wstring commandLine;
  commandLine.reserve(installerPath.size() + 2);
  commandLine += L'"';
  commandLine += installerPath;
  commandLine += L'"';
  return commandLine;
}

}  // namespace actions
