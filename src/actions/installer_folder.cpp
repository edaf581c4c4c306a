#include "actions/installer_folder.h"

#include <algorithm>

#include "actions/ascii_case.h"
#include "actions/installer_handover.h"

namespace actions {

namespace {

// The extensions, without their dot, that make a name code to Windows.
// - Images the loader maps and runs: what a program imports or loads by name carries one of these
//   (printer drivers as .drv, controls as .ocx, panels as .cpl, DirectShow filters as .ax, codecs as
//   .acm, input methods as .ime, telephony providers as .tsp, Delphi's packages as .bpl, resource DLLs
//   as .rll, drivers as .sys), and a program started by name runs as .exe, .com, .scr or .pif.
// - What a process start hands to the command interpreter: .bat and .cmd.
// - What redirects the loader: "<program>.manifest" beside a program names private assemblies (DLLs)
//   and wins over the embedded manifest where no embedded one is preferred, "<program>.config" redirects
//   their versions, and "<program>.local" (a file or a folder) sends the loader to the program's folder
//   or into that folder first, even for DLLs it would otherwise take from the system.
// Left out: language resources (.mui) and type libraries (.tlb) are mapped as data, never run; scripts
// and packages that only the shell or their host runs (.vbs, .js, .hta, .msi, .lnk) run only when the
// installer names them itself, which is its own affair.
constexpr std::wstring_view kCodeExtensions[] = {
    L"dll", L"exe", L"ocx", L"cpl", L"drv", L"sys", L"scr", L"com",      L"pif",    L"ax",
    L"acm", L"ime", L"tsp", L"bpl", L"rll", L"bat", L"cmd", L"manifest", L"config", L"local",
};

bool Tolerated(std::wstring_view name, std::wstring_view launcherName) {
  if (SameIgnoringAsciiCase(name, launcherName)) return true;
  return std::any_of(std::begin(kFilesTheMediumAdds), std::end(kFilesTheMediumAdds),
                     [name](std::wstring_view added) { return SameIgnoringAsciiCase(name, added); });
}

std::wstring Between(std::wstring_view before, std::wstring_view what, std::wstring_view after) {
  std::wstring message(before);
  message += what;
  message += after;
  return message;
}

}  // namespace

std::wstring ForeignFileMessage(std::wstring_view relativePath) {
  return Between(kForeignBeforePath, relativePath, kForeignAfterPath);
}

std::wstring UnlistedFolderMessage(std::wstring_view folderPath) {
  return Between(kUnlistedFolderBeforePath, folderPath, kUnlistedFolderAfterPath);
}

std::wstring UnheldPathMessage(std::wstring_view installerPath) {
  return Between(kUnheldPathBeforePath, installerPath, kUnheldPathAfterPath);
}

bool LoadableAsCode(std::wstring_view name) {
  const std::size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos) return false;
  const std::wstring_view extension = name.substr(dot + 1);
  return std::any_of(std::begin(kCodeExtensions), std::end(kCodeExtensions),
                     [extension](std::wstring_view code) { return SameIgnoringAsciiCase(extension, code); });
}

FolderSurvey SurveyInstallerFolders(std::wstring_view baseDirectory, std::wstring_view launcherName,
                                    const ListedQuery& listed, FolderLister& lister) {
  FolderSurvey survey;
  // Folders still to look at, relative to the base directory ("" is the base directory itself).
  std::vector<std::wstring> pending{std::wstring(), std::wstring(kInstallerFolder)};
  while (!pending.empty()) {
    const std::wstring folder = std::move(pending.back());
    pending.pop_back();
    const bool inInstallerFolder = !folder.empty();
    const std::wstring prefix = inInstallerFolder ? folder + L'\\' : std::wstring();
    const std::optional<std::vector<FolderEntry>> entries = lister.List(std::wstring(baseDirectory) + prefix);
    if (!entries) {
      survey.finding = FolderFinding::kUnreadable;
      survey.path = folder;
      return survey;
    }
    for (const FolderEntry& entry : *entries) {
      const std::wstring path = prefix + entry.name;
      const bool code = LoadableAsCode(entry.name) || LoadableAsCode(entry.shortName);
      if (entry.folder) {
        // The installer's folder is looked into apart; in the launcher's folder the loader never looks
        // below, so its folders are none of this check's business.
        if (!inInstallerFolder) continue;
        if (entry.reparsePoint || code) {
          survey.finding = FolderFinding::kForeign;
          survey.path = path;
          return survey;
        }
        pending.push_back(path);
        continue;
      }
      if (!code) continue;
      if (!inInstallerFolder && Tolerated(entry.name, launcherName)) continue;
      if (!listed(path)) {
        survey.finding = FolderFinding::kForeign;
        survey.path = path;
        return survey;
      }
      if (!SameIgnoringAsciiCase(path, kInstallerRelativePath)) survey.listedCode.push_back(path);
    }
  }
  survey.finding = FolderFinding::kClean;
  return survey;
}

}  // namespace actions
