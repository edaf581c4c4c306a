#include "actions/installer_handover.h"

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

HandOverOutcome HandOverToInstaller(std::wstring_view baseDirectory, ProgramStarter& starter) {
  const std::wstring path = InstallerPath(baseDirectory);
  const StartOutcome started = starter.StartProcess(path, InstallerCommandLine(path));
  switch (started.result) {
    case StartResult::kStarted:
      return {HandOver::kStarted, kNoError};
    case StartResult::kElevationRequired: {
      const StartOutcome opened = starter.OpenThroughShell(path);
      if (opened.result == StartResult::kStarted) return {HandOver::kStartedThroughShell, kNoError};
      return {HandOver::kNotStarted, opened.error};
    }
    case StartResult::kFailed:
      break;
  }
  return {HandOver::kNotStarted, started.error};
}

}  // namespace actions
