#include "actions/installer_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "payload_fakes.h"

namespace {

using actions::FolderEntry;

// A copy of a genuine medium with what Windows and Explorer add to one, and listed code in a subfolder;
// launched as "setup (1).exe" beside the medium's setup.exe. A name without an extension ("dll") is no code.
test_payload::FakeFolders GenuineCopy() {
  return test_payload::FakeFolders(
      {{L"E:\\",
        {{{L"setup.exe"},
          {L"setup (1).exe"},
          {L"autorun.inf"},
          {L"voabc.txt"},
          {L"Thumbs.db"},
          {L"System Volume Information", L"SYSTEM~1", true},
          {L"vorncopy", L"", true}}}},
       {L"E:\\vorncopy\\",
        {{{L"tarvinxp.exe"}, {L"Dao350.dll"}, {L"desktop.ini"}, {L"dll"}, {L"sub", L"", true}}}},
       {L"E:\\vorncopy\\sub\\", {{{L"help.ocx"}, {L"tarvinxp.exe.mui"}}}}});
}

TEST(InstallerFolders, OnlyAGenuineCopyIsCleanAndItsListedCodeBesideTheInstallerIsToBeChecked) {
  const auto survey = [](test_payload::FakeFolders folders) {
    return actions::SurveyInstallerFolders(
        L"E:\\", L"setup (1).exe",
        [](std::wstring_view path) {
          return path == L"vorncopy\\tarvinxp.exe" || path == L"vorncopy\\Dao350.dll" ||
                 path == L"vorncopy\\sub\\help.ocx";
        },
        folders);
  };
  actions::FolderSurvey genuine = survey(GenuineCopy());
  EXPECT_EQ(genuine.finding, actions::FolderFinding::kClean) << genuine.path;
  std::sort(genuine.listedCode.begin(), genuine.listedCode.end());
  EXPECT_EQ(genuine.listedCode,
            (std::vector<std::wstring>{L"vorncopy\\Dao350.dll", L"vorncopy\\sub\\help.ocx"}));

  const struct {
    const wchar_t* folder;
    std::optional<FolderEntry> added;  // none: the folder cannot be listed
    const wchar_t* named;
  } rows[] = {
      {L"E:\\vorncopy\\", FolderEntry(L"version.dll"), L"vorncopy\\version.dll"},
      {L"E:\\vorncopy\\", FolderEntry(L"VERSION.DLL"), L"vorncopy\\VERSION.DLL"},
      {L"E:\\vorncopy\\", FolderEntry(L"a.Ocx"), L"vorncopy\\a.Ocx"},
      {L"E:\\vorncopy\\", FolderEntry(L"a.cpl"), L"vorncopy\\a.cpl"},
      {L"E:\\vorncopy\\", FolderEntry(L"winspool.DRV"), L"vorncopy\\winspool.DRV"},
      {L"E:\\vorncopy\\", FolderEntry(L"a.com"), L"vorncopy\\a.com"},
      {L"E:\\vorncopy\\", FolderEntry(L"tarvinxp.exe.manifest"), L"vorncopy\\tarvinxp.exe.manifest"},
      {L"E:\\vorncopy\\", FolderEntry(L"tarvinxp.exe.local", L"", true), L"vorncopy\\tarvinxp.exe.local"},
      {L"E:\\vorncopy\\", FolderEntry(L"version.dll2", L"VERSIO~1.DLL"), L"vorncopy\\version.dll2"},
      {L"E:\\vorncopy\\", FolderEntry(L"Microsoft.VC90.CRT", L"", true, true),
       L"vorncopy\\Microsoft.VC90.CRT"},
      {L"E:\\vorncopy\\sub\\", FolderEntry(L"msvcr90.dll"), L"vorncopy\\sub\\msvcr90.dll"},
      {L"E:\\", FolderEntry(L"version.dll"), L"version.dll"},
      {L"E:\\", FolderEntry(L"setup (2).exe"), L"setup (2).exe"},
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
    const actions::FolderSurvey found = survey(folders);
    EXPECT_EQ(found.finding, added ? actions::FolderFinding::kForeign : actions::FolderFinding::kUnreadable)
        << named;
    EXPECT_EQ(found.path, named);
  }
}

}  // namespace
