#include "actions/installer_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "payload_fakes.h"

namespace {

// A copy of a genuine medium with what Windows and Explorer add to one, and listed code in subfolders.
test_payload::FakeFolders GenuineCopy() {
  return test_payload::FakeFolders(
      {{L"E:\\",
        {{{L"setup.exe"},
          {L"autorun.inf"},
          {L"voabc.txt"},
          {L"Thumbs.db"},
          {L"desktop.ini"},
          {L"System Volume Information", L"SYSTEM~1", true},
          {L"vorncopy", L"", true}}}},
       {L"E:\\vorncopy\\",
        {{{L"tarvinxp.exe"}, {L"Dao350.dll"}, {L"desktop.ini"}, {L"sub", L"", true}, {L"zh-CN", L"", true}}}},
       {L"E:\\vorncopy\\sub\\", {{{L"help.ocx"}, {L"Thumbs.db"}}}},
       {L"E:\\vorncopy\\zh-CN\\", {{{L"tarvinxp.exe.mui"}}}}});
}

actions::FolderSurvey Survey(test_payload::FakeFolders& folders,
                             std::wstring_view launcherName = L"setup.exe") {
  const auto listed = [](std::wstring_view path) {
    return path == L"vorncopy\\tarvinxp.exe" || path == L"vorncopy\\Dao350.dll" ||
           path == L"vorncopy\\sub\\help.ocx";
  };
  return actions::SurveyInstallerFolders(L"E:\\", launcherName, listed, folders);
}

TEST(InstallerFolders, AGenuineCopyIsCleanAndItsListedCodeBesideTheInstallerIsToBeChecked) {
  for (const std::wstring_view launcher : {L"setup.exe", L"setup (1).exe"}) {
    test_payload::FakeFolders folders = GenuineCopy();
    folders.tree[L"E:\\"]->push_back({std::wstring(launcher)});
    actions::FolderSurvey survey = Survey(folders, launcher);
    EXPECT_EQ(survey.finding, actions::FolderFinding::kClean) << survey.path;
    std::sort(survey.listedCode.begin(), survey.listedCode.end());
    EXPECT_EQ(survey.listedCode,
              (std::vector<std::wstring>{L"vorncopy\\Dao350.dll", L"vorncopy\\sub\\help.ocx"}));
  }
}

TEST(InstallerFolders, ForeignCodeWhereTheLoaderFindsItAndFoldersThatCannotBeListedAreNeverClean) {
  const struct {
    const wchar_t* folder;
    std::optional<actions::FolderEntry> added;  // none: the folder cannot be listed
    const wchar_t* named;
  } rows[] = {
      {L"E:\\vorncopy\\", actions::FolderEntry(L"version.dll"), L"vorncopy\\version.dll"},
      {L"E:\\vorncopy\\", actions::FolderEntry(L"VERSION.DLL"), L"vorncopy\\VERSION.DLL"},
      {L"E:\\vorncopy\\", actions::FolderEntry(L"a.Ocx"), L"vorncopy\\a.Ocx"},
      {L"E:\\vorncopy\\", actions::FolderEntry(L"a.cpl"), L"vorncopy\\a.cpl"},
      {L"E:\\vorncopy\\", actions::FolderEntry(L"winspool.DRV"), L"vorncopy\\winspool.DRV"},
      {L"E:\\vorncopy\\", actions::FolderEntry(L"a.com"), L"vorncopy\\a.com"},
      {L"E:\\vorncopy\\", actions::FolderEntry(L"a.exe"), L"vorncopy\\a.exe"},
      {L"E:\\vorncopy\\", actions::FolderEntry(L"tarvinxp.exe.manifest"), L"vorncopy\\tarvinxp.exe.manifest"},
      {L"E:\\vorncopy\\", actions::FolderEntry(L"tarvinxp.exe.local", L"", true),
       L"vorncopy\\tarvinxp.exe.local"},
      {L"E:\\vorncopy\\", actions::FolderEntry(L"version.dll2", L"VERSIO~1.DLL"), L"vorncopy\\version.dll2"},
      {L"E:\\vorncopy\\", actions::FolderEntry(L"Microsoft.VC90.CRT", L"", true, true),
       L"vorncopy\\Microsoft.VC90.CRT"},
      {L"E:\\vorncopy\\sub\\", actions::FolderEntry(L"msvcr90.dll"), L"vorncopy\\sub\\msvcr90.dll"},
      {L"E:\\", actions::FolderEntry(L"version.dll"), L"version.dll"},
      {L"E:\\", actions::FolderEntry(L"setup (1).exe"), L"setup (1).exe"},
      {L"E:\\", std::nullopt, L""},
      {L"E:\\vorncopy\\", std::nullopt, L"vorncopy"},
      {L"E:\\vorncopy\\sub\\", std::nullopt, L"vorncopy\\sub"},
  };
  for (const auto& [folder, added, named] : rows) {
    test_payload::FakeFolders folders = GenuineCopy();
    if (added)
      folders.tree[folder]->push_back(*added);
    else
      folders.tree[folder].reset();
    const actions::FolderSurvey survey = Survey(folders);
    EXPECT_EQ(survey.finding, added ? actions::FolderFinding::kForeign : actions::FolderFinding::kUnreadable)
        << named;
    EXPECT_EQ(survey.path, named);
  }
}

}  // namespace
