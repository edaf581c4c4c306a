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

namespace {

HandOverOutcome HandOverUnderList(std::wstring_view baseDirectory, PayloadGuard& guard,
                                  InstallerOpener& opener, ProgramStarter& starter) {
  if (guard.Untrusted()) return {HandOver::kNotStarted, kNoError};
  const std::unique_ptr<HeldFile> held = opener.OpenDenyingWrites(InstallerPath(baseDirectory));
  if (!held) return {HandOver::kNotStarted, kNoError};
  if (guard.Check(kInstallerRelativePath, *held) != Verdict::Genuine)
    return {HandOver::kNotStarted, kNoError};
  return HandOverToInstaller(baseDirectory, starter);  // the handle closes after the start
}

}  // namespace

HandOverOutcome HandOverChecked(std::wstring_view baseDirectory, PayloadGuard& guard, InstallerOpener& opener,
                                ProgramStarter& starter) {
  if (!guard.Checks()) return HandOverToInstaller(baseDirectory, starter);
  // Under a list, a check that fails in any way (it throws: memory, say) starts nothing.
  try {
    return HandOverUnderList(baseDirectory, guard, opener, starter);
  } catch (...) {
    return {HandOver::kNotStarted, kNoError};
  }
}

}  // namespace actions
