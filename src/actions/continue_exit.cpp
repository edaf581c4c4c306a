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

HandOver HandOverToInstaller(std::wstring_view baseDirectory, ProgramStarter& starter) {
  const std::wstring path = InstallerPath(baseDirectory);
  switch (starter.StartProcess(path, InstallerCommandLine(path))) {
    case StartResult::kStarted:
      return HandOver::kStarted;
    case StartResult::kElevationRequired:
      return starter.OpenThroughShell(path) ? HandOver::kStartedThroughShell : HandOver::kNotStarted;
    case StartResult::kFailed:
      break;
  }
  return HandOver::kNotStarted;
}

}  // namespace actions
