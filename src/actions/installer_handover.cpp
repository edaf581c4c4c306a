#include "actions/installer_handover.h"

#include <optional>
#include <span>
#include <vector>

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
      return {HandOver::kStarted, kNoError, StartResult::kStarted};
    case StartResult::kElevationRequired: {
      const StartOutcome opened = starter.OpenThroughShell(path);
      if (opened.result == StartResult::kStarted)
        return {HandOver::kStartedThroughShell, kNoError, StartResult::kStarted};
      return {HandOver::kNotStarted, opened.error, opened.result};
    }
    case StartResult::kFailed:
    case StartResult::kNotTheCheckedProgram:
    case StartResult::kPathNotHeld:
      break;
  }
  return {HandOver::kNotStarted, started.error, started.result};
}

namespace {

// A file that was seen in its folder but cannot be opened denying writes (someone holds it open for
// writing, or it went away): its check must fail, as an unreadable file's does.
class UnopenedFile final : public HeldFile {
 public:
  std::optional<std::size_t> Read(std::span<char>) override { return std::nullopt; }
};

HandOverOutcome HandOverUnderList(std::wstring_view baseDirectory, PayloadGuard& guard,
                                  InstallerOpener& opener, ProgramStarter& starter,
                                  const InstallerSurroundings& surroundings) {
  if (guard.Untrusted()) return {};
  const std::wstring installerPath = InstallerPath(baseDirectory);
  const std::unique_ptr<HeldFile> installer = opener.OpenDenyingWrites(installerPath);
  if (!installer) return {};
  // The installer first: a damaged list refuses here, naming what the guard names, before the folders
  // are judged by a list that vouches for nothing.
  if (guard.Check(kInstallerRelativePath, *installer) != Verdict::Genuine) return {};
  const auto refuse = [&surroundings](const std::wstring& message) {
    if (surroundings.refuse) surroundings.refuse(message);
    return HandOverOutcome{};
  };
  const FolderSurvey survey = SurveyInstallerFolders(
      baseDirectory, surroundings.launcherName,
      [&guard](std::wstring_view path) { return guard.Names(path); }, surroundings.lister);
  switch (survey.finding) {
    case FolderFinding::kClean:
      break;
    case FolderFinding::kForeign:
      return refuse(ForeignFileMessage(survey.path));
    case FolderFinding::kUnreadable:
      return refuse(UnlistedFolderMessage(std::wstring(baseDirectory) + survey.path));
  }
  // The listed code beside the installer, held from its check until the start has returned.
  std::vector<std::unique_ptr<HeldFile>> held;
  for (const std::wstring& path : survey.listedCode) {
    std::unique_ptr<HeldFile> file = opener.OpenDenyingWrites(std::wstring(baseDirectory) + path);
    UnopenedFile unopened;
    if (guard.Check(path, file ? *file : static_cast<HeldFile&>(unopened)) != Verdict::Genuine) return {};
    held.push_back(std::move(file));
  }
  const HandOverOutcome outcome = HandOverToInstaller(baseDirectory, starter);  // the handles close after it
  if (outcome.last == StartResult::kNotTheCheckedProgram)
    refuse(RefusalMessage({RefusalReason::FileDiffers, std::wstring(kInstallerRelativePath)},
                          surroundings.launcherName));
  if (outcome.last == StartResult::kPathNotHeld) refuse(UnheldPathMessage(installerPath));
  return outcome;
}

}  // namespace

HandOverOutcome HandOverChecked(std::wstring_view baseDirectory, PayloadGuard& guard, InstallerOpener& opener,
                                ProgramStarter& starter, const InstallerSurroundings& surroundings) {
  if (!guard.Checks()) return HandOverToInstaller(baseDirectory, starter);
  // Under a list, a check that fails in any way (it throws: memory, say) starts nothing.
  try {
    return HandOverUnderList(baseDirectory, guard, opener, starter, surroundings);
  } catch (...) {
    return {};
  }
}

}  // namespace actions
