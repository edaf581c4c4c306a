#include "actions/extended_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using actions::ExtendedLengthPath;
using actions::WithoutExtendedPrefix;

// A full path of exactly the given length below root, made of 9-character folders.
std::wstring PathOfLength(std::wstring root, std::size_t length) {
  std::wstring path = std::move(root);
  while (path.size() < length) path += L"folder90\\";
  path.resize(length);
  if (path.back() == L'\\') path.back() = L'x';
  return path;
}

TEST(ExtendedLengthPath, LeavesPathsUpToThePlainLimitAlone) {
  // 247 units: the limit of CreateDirectory, MAX_PATH less room for an 8.3 name and its terminator.
  for (std::size_t length : {std::size_t{3}, std::size_t{100}, std::size_t{247}}) {
    const std::wstring path = PathOfLength(L"D:\\", length);
    EXPECT_EQ(ExtendedLengthPath(path), path) << length;
  }
  EXPECT_EQ(ExtendedLengthPath(L""), L"");
}

TEST(ExtendedLengthPath, PrefixesLongDrivePathsFromOneCharacterPastTheLimit) {
  const std::wstring justOver = PathOfLength(L"C:\\", 248);
  EXPECT_EQ(ExtendedLengthPath(justOver), L"\\\\?\\" + justOver);
  const std::wstring veryLong = PathOfLength(L"z:\\", 1000) + L"\\voabc.txt";
  EXPECT_EQ(ExtendedLengthPath(veryLong), L"\\\\?\\" + veryLong);
}

TEST(ExtendedLengthPath, TurnsLongUncPathsIntoTheUncDeviceForm) {
  const std::wstring share = PathOfLength(L"\\\\server\\share\\", 400);
  EXPECT_EQ(ExtendedLengthPath(share), L"\\\\?\\UNC\\" + share.substr(2));
}

TEST(ExtendedLengthPath, NeverPrefixesTwice) {
  const std::wstring extended = L"\\\\?\\" + PathOfLength(L"C:\\", 400);
  EXPECT_EQ(ExtendedLengthPath(extended), extended);
  const std::wstring extendedUnc = L"\\\\?\\UNC\\" + PathOfLength(L"server\\share\\", 400);
  EXPECT_EQ(ExtendedLengthPath(extendedUnc), extendedUnc);
  const std::wstring device = L"\\\\.\\" + PathOfLength(L"C:\\", 400);
  EXPECT_EQ(ExtendedLengthPath(device), device);
}

TEST(ExtendedLengthPath, LeavesWhatIsNoFullPathAlone) {
  // Relative and drive-relative names have no "\\?\" form: the system must resolve them itself.
  for (const std::wstring& path : {PathOfLength(L"vorncopy\\", 400), PathOfLength(L"C:", 400),
                                   PathOfLength(L"\\rooted\\", 400), PathOfLength(L"1:\\", 400)}) {
    EXPECT_EQ(ExtendedLengthPath(path), path) << path.substr(0, 12).c_str();
  }
}

TEST(ExtendedLengthPath, KeepsCharactersOutsideAnyCodePage) {
  const std::wstring path = PathOfLength(L"D:\\한국어 हिन्दी \U0001F4BF\\", 300);
  EXPECT_EQ(ExtendedLengthPath(path), L"\\\\?\\" + path);
}

TEST(WithoutExtendedPrefix, GivesBackTheClassicFormOfDriveAndUncPaths) {
  for (const std::wstring& path : {PathOfLength(L"C:\\", 400), PathOfLength(L"\\\\server\\share\\", 400)}) {
    EXPECT_EQ(WithoutExtendedPrefix(ExtendedLengthPath(path)), path) << path.substr(0, 16).c_str();
  }
  EXPECT_EQ(WithoutExtendedPrefix(L"\\\\?\\UNC\\s\\x"), L"\\\\s\\x");
  EXPECT_EQ(WithoutExtendedPrefix(L"\\\\.\\C:\\x"), L"\\\\.\\C:\\x");
  EXPECT_EQ(WithoutExtendedPrefix(L"C:\\x"), L"C:\\x");
}

// --- Faults that a mutation run (scripts/mutate) found no test above to catch -----------------------

TEST(ExtendedLengthPathFoundByMutation, EveryDriveLetterFromAToZInEitherCaseAndNoNeighbour) {
  for (const wchar_t* root : {L"A:\\", L"Z:\\", L"a:\\", L"z:\\"}) {
    const std::wstring path = PathOfLength(root, 300);
    EXPECT_EQ(ExtendedLengthPath(path), L"\\\\?\\" + path) << root;
  }
  // The characters just before and after the two ranges of letters.
  for (const wchar_t* root : {L"@:\\", L"[:\\", L"`:\\", L"{:\\"}) {
    const std::wstring path = PathOfLength(root, 300);
    EXPECT_EQ(ExtendedLengthPath(path), path) << root;
  }
}

TEST(ExtendedLengthPathFoundByMutation, OnlyTwoLeadingSeparatorsAndANameMakeAServer) {
  for (const std::wstring& path : {PathOfLength(L"\\\\\\server\\", 300), PathOfLength(L"\\\\?x\\", 300),
                                   PathOfLength(L"\\\\.x\\", 300), PathOfLength(L"a\\server\\", 300)}) {
    EXPECT_EQ(ExtendedLengthPath(path), path) << path.substr(0, 12).c_str();
  }
}

}  // namespace
