#include "actions/file_system_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "actions/temporary_copy.h"
#include "import_hook.h"
#include "temp_folder.h"
#include "win32/unique_handle.h"

namespace {

using actions::ReadStatus;
using actions::Win32FileSystem;
using windows_test::FileBytes;
using windows_test::TempFolder;
using windows_test::WriteFileBytes;

win32::UniqueFileHandle OpenWithoutSharing(const std::wstring& path, DWORD access) {
  return win32::UniqueFileHandle(
      ::CreateFileW(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return bytes;
}

class Win32FileSystemTest : public testing::Test {
 protected:
  TempFolder folder;
  Win32FileSystem files;
};

TEST_F(Win32FileSystemTest, ReadsEveryByteOfAFileLargerThanOneChunk) {
  const std::string bytes = Pattern(200 * 1024 + 17);  // NULs, CRs and bytes above 0x7F included
  ASSERT_TRUE(WriteFileBytes(folder / L"voabc.txt", bytes));
  const actions::FileRead read = files.ReadWholeFile(folder / L"voabc.txt");
  EXPECT_EQ(read.status, ReadStatus::Complete);
  EXPECT_TRUE(read.bytes == bytes);
}

TEST_F(Win32FileSystemTest, ReadsAnEmptyFileToItsEnd) {
  ASSERT_TRUE(WriteFileBytes(folder / L"voabc.txt", ""));
  const actions::FileRead read = files.ReadWholeFile(folder / L"voabc.txt");
  EXPECT_EQ(read.status, ReadStatus::Complete);
  EXPECT_TRUE(read.bytes.empty());
}

TEST_F(Win32FileSystemTest, ReadsThroughAUnicodePath) {
  ASSERT_TRUE(::CreateDirectoryW((folder / L"岫川 安装").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(folder / L"岫川 安装\\voabc.txt", "notes"));
  EXPECT_EQ(files.ReadWholeFile(folder / L"岫川 安装\\voabc.txt").bytes, "notes");
}

TEST_F(Win32FileSystemTest, MissingFileIsNotOpenedForTheSystemsReason) {
  const actions::FileRead read = files.ReadWholeFile(folder / L"voabc.txt");
  EXPECT_EQ(read.status, ReadStatus::NotOpened);
  EXPECT_EQ(read.error, static_cast<actions::SystemError>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Win32FileSystemTest, FileHeldWithoutSharingIsNotOpenedForTheSystemsReason) {
  ASSERT_TRUE(WriteFileBytes(folder / L"voabc.txt", "notes"));
  const win32::UniqueFileHandle holder = OpenWithoutSharing(folder / L"voabc.txt", GENERIC_READ);
  ASSERT_TRUE(holder);
  const actions::FileRead read = files.ReadWholeFile(folder / L"voabc.txt");
  EXPECT_EQ(read.status, ReadStatus::NotOpened);
  EXPECT_EQ(read.error, static_cast<actions::SystemError>(ERROR_SHARING_VIOLATION));
}

TEST_F(Win32FileSystemTest, FileIsClosedAgainAfterReading) {
  ASSERT_TRUE(WriteFileBytes(folder / L"voabc.txt", "notes"));
  files.ReadWholeFile(folder / L"voabc.txt");
  // Opening without sharing fails while any other handle to the file is still open.
  EXPECT_TRUE(OpenWithoutSharing(folder / L"voabc.txt", GENERIC_READ | GENERIC_WRITE));
  EXPECT_TRUE(::DeleteFileW((folder / L"voabc.txt").c_str()));
}

TEST_F(Win32FileSystemTest, CopyReplacesAnExistingDestination) {
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "new"));
  ASSERT_TRUE(WriteFileBytes(folder / L"target.dll", "an older and longer file"));
  EXPECT_TRUE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll").copied);
  EXPECT_EQ(FileBytes(folder / L"target.dll"), "new");
  EXPECT_EQ(FileBytes(folder / L"Dao350.dll"), "new");
}

TEST_F(Win32FileSystemTest, CopyCreatesAMissingDestination) {
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "dao"));
  EXPECT_TRUE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"copy.dll").copied);
  EXPECT_EQ(FileBytes(folder / L"copy.dll"), "dao");
}

TEST_F(Win32FileSystemTest, CopyOntoALockedDestinationFails) {
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "new"));
  ASSERT_TRUE(WriteFileBytes(folder / L"target.dll", "in use"));
  {
    const win32::UniqueFileHandle inUse = OpenWithoutSharing(folder / L"target.dll", GENERIC_READ);
    ASSERT_TRUE(inUse);
    EXPECT_FALSE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll").copied);
  }
  EXPECT_EQ(FileBytes(folder / L"target.dll"), "in use");
}

TEST_F(Win32FileSystemTest, CopyOfAMissingSourceFailsAndCreatesNothing) {
  const actions::CopyOutcome copy = files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll");
  EXPECT_FALSE(copy.copied);
  EXPECT_EQ(copy.error, static_cast<actions::SystemError>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FileBytes(folder / L"target.dll"), "<missing>");
}

TEST_F(Win32FileSystemTest, CopyIntoAMissingFolderFails) {
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "dao"));
  EXPECT_FALSE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"system32\\Dao350.dll").copied);
}

// The names in a folder, sorted, without "." and "..".
std::vector<std::wstring> FolderEntries(const std::wstring& folderPath) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW((folderPath + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Every way a deploying copy can fail: the copy reports it, the destination keeps exactly what it had
// (no cut-off or emptied DLL), and no temporary file is left behind in either folder.
struct CopyFault {
  const char* name;
  // The cause the copy reports; 0: any cause (Windows and Wine differ there), but one there must be.
  DWORD error;
  // Arranges the fault in a folder that holds vorncopy\Dao350.dll ("new") and system32\Dao350.dll
  // ("old"); returns whatever must stay alive (a handle) while the copy runs.
  win32::UniqueFileHandle (*arrange)(const TempFolder& folder);
};

class CopyFaultTest : public Win32FileSystemTest, public testing::WithParamInterface<CopyFault> {};

TEST_P(CopyFaultTest, FailsAndLeavesTheOldFileAsItWas) {
  ASSERT_TRUE(::CreateDirectoryW((folder / L"vorncopy").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((folder / L"system32").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(folder / L"vorncopy\\Dao350.dll", Pattern(100 * 1024)));
  ASSERT_TRUE(WriteFileBytes(folder / L"system32\\Dao350.dll", "old"));
  const std::vector<std::wstring> before = FolderEntries(folder / L"system32");
  {
    const win32::UniqueFileHandle held = GetParam().arrange(folder);
    const actions::CopyOutcome copy =
        files.CopyReplacing(folder / L"vorncopy\\Dao350.dll", folder / L"system32\\Dao350.dll");
    EXPECT_FALSE(copy.copied);
    if (GetParam().error != 0) {
      EXPECT_EQ(copy.error, static_cast<actions::SystemError>(GetParam().error));
    } else {
      EXPECT_NE(copy.error, actions::kNoError);
    }
  }
  if (!IsFolder(folder / L"system32\\Dao350.dll")) {
    const std::string after = FileBytes(folder / L"system32\\Dao350.dll");
    EXPECT_TRUE(after == "old") << "the destination now holds " << after.size() << " other bytes";
  }
  EXPECT_EQ(FolderEntries(folder / L"system32"), before) << "a temporary file was left behind";
  // Once the fault is gone, the launcher's next click copies as usual.
  ::SetFileAttributesW((folder / L"system32\\Dao350.dll").c_str(), FILE_ATTRIBUTE_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFault, CopyFaultTest,
    testing::Values(CopyFault{"ReadOnlyDestination", ERROR_ACCESS_DENIED,
                              [](const TempFolder& folder) {
                                ::SetFileAttributesW((folder / L"system32\\Dao350.dll").c_str(),
                                                     FILE_ATTRIBUTE_READONLY);
                                return win32::UniqueFileHandle{};
                              }},
                    CopyFault{"DestinationInUse", 0,  // a loaded DLL is held this way
                              [](const TempFolder& folder) {
                                return OpenWithoutSharing(folder / L"system32\\Dao350.dll", GENERIC_READ);
                              }},
                    CopyFault{"DestinationIsAFolder", 0,
                              [](const TempFolder& folder) {
                                ::DeleteFileW((folder / L"system32\\Dao350.dll").c_str());
                                ::CreateDirectoryW((folder / L"system32\\Dao350.dll").c_str(), nullptr);
                                return win32::UniqueFileHandle{};
                              }},
                    CopyFault{"PayloadFolderMissing", ERROR_PATH_NOT_FOUND,
                              [](const TempFolder& folder) {
                                ::DeleteFileW((folder / L"vorncopy\\Dao350.dll").c_str());
                                ::RemoveDirectoryW((folder / L"vorncopy").c_str());
                                return win32::UniqueFileHandle{};
                              }},
                    CopyFault{"SourceInUse", ERROR_SHARING_VIOLATION,
                              [](const TempFolder& folder) {
                                return OpenWithoutSharing(folder / L"vorncopy\\Dao350.dll",
                                                          GENERIC_READ | GENERIC_WRITE);
                              }},
                    CopyFault{"SourceBeingWritten",
                              ERROR_SHARING_VIOLATION,  // another program writes it, letting others read
                              [](const TempFolder& folder) {
                                return win32::UniqueFileHandle(
                                    ::CreateFileW((folder / L"vorncopy\\Dao350.dll").c_str(), GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
                              }}),
    [](const testing::TestParamInfo<CopyFault>& info) { return std::string(info.param.name); });

TEST_F(Win32FileSystemTest, CopyReplacesWithoutLeavingATemporaryFileAndKeepsTheTimeStamp) {
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", Pattern(70 * 1024)));
  ASSERT_TRUE(WriteFileBytes(folder / L"target.dll", "old"));
  const win32::UniqueFileHandle source(::CreateFileW((folder / L"Dao350.dll").c_str(), FILE_WRITE_ATTRIBUTES,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME past{};
  past.dwHighDateTime = 0x01C00000;  // in 1998
  ASSERT_TRUE(::SetFileTime(source.get(), nullptr, nullptr, &past));

  EXPECT_TRUE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll").copied);
  EXPECT_TRUE(FileBytes(folder / L"target.dll") == Pattern(70 * 1024));
  EXPECT_EQ(FolderEntries(folder / L""), (std::vector<std::wstring>{L"Dao350.dll", L"target.dll"}));
  WIN32_FILE_ATTRIBUTE_DATA copied{};
  ASSERT_TRUE(::GetFileAttributesExW((folder / L"target.dll").c_str(), GetFileExInfoStandard, &copied));
  EXPECT_EQ(copied.ftLastWriteTime.dwHighDateTime, past.dwHighDateTime);
}

// The checked deployment writes what it read and checked, never the file as it is by then.
TEST_F(Win32FileSystemTest, WriteReplacesWithTheBytesReadAndTheirTimeStampLeavingNoTemporaryFile) {
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", Pattern(150 * 1024)));
  ASSERT_TRUE(WriteFileBytes(folder / L"target.dll", "an older and longer file than it might seem"));
  {
    const win32::UniqueFileHandle source(::CreateFileW(
        (folder / L"Dao350.dll").c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME past{};
    past.dwHighDateTime = 0x01C00000;  // in 1998
    ASSERT_TRUE(::SetFileTime(source.get(), nullptr, nullptr, &past));
  }
  const actions::FileRead read = files.ReadWholeFile(folder / L"Dao350.dll");
  ASSERT_EQ(read.status, actions::ReadStatus::Complete);
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "changed after the read"));

  EXPECT_TRUE(files.WriteReplacing(read, folder / L"target.dll").copied);
  EXPECT_TRUE(FileBytes(folder / L"target.dll") == Pattern(150 * 1024));
  EXPECT_EQ(FolderEntries(folder / L""), (std::vector<std::wstring>{L"Dao350.dll", L"target.dll"}));
  WIN32_FILE_ATTRIBUTE_DATA written{};
  ASSERT_TRUE(::GetFileAttributesExW((folder / L"target.dll").c_str(), GetFileExInfoStandard, &written));
  EXPECT_EQ(written.ftLastWriteTime.dwHighDateTime, 0x01C00000u);

  // What a copy refuses, a write refuses too, and the old file stays as it was.
  ASSERT_TRUE(WriteFileBytes(folder / L"target.dll", "old"));
  {
    const win32::UniqueFileHandle held = OpenWithoutSharing(folder / L"target.dll", GENERIC_READ);
    EXPECT_FALSE(files.WriteReplacing(read, folder / L"target.dll").copied);
  }
  ::SetFileAttributesW((folder / L"target.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  const actions::CopyOutcome readOnly = files.WriteReplacing(read, folder / L"target.dll");
  ::SetFileAttributesW((folder / L"target.dll").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_FALSE(readOnly.copied);
  EXPECT_EQ(readOnly.error, static_cast<actions::SystemError>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(FileBytes(folder / L"target.dll") == "old");
  EXPECT_EQ(FolderEntries(folder / L""), (std::vector<std::wstring>{L"Dao350.dll", L"target.dll"}));
}

TEST_F(Win32FileSystemTest, ACopyRemovesTheTemporaryFileThatACutOffCopyLeftAndNothingElse) {
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "dao"));
  ASSERT_TRUE(WriteFileBytes(folder / L"target.dll.4242-1000-0.tmp", "cut off"));
  ASSERT_TRUE(WriteFileBytes(folder / L"target.dll.saved.tmp", "someone else's"));
  EXPECT_TRUE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll").copied);
  EXPECT_EQ(FolderEntries(folder / L""),
            (std::vector<std::wstring>{L"Dao350.dll", L"target.dll", L"target.dll.saved.tmp"}));
}

TEST_F(Win32FileSystemTest, ACopyLeavesTheTemporaryFileOfACopyInAnotherRunningLauncher) {
  // The other launcher: a second process of this program, held before its first instruction.
  std::wstring self(MAX_PATH, L'\0');
  self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
  std::wstring commandLine = L"\"" + self + L"\" --gtest_list_tests";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(::CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, nullptr, &startup, &started));
  const win32::UniqueKernelHandle other(started.hProcess);
  const win32::UniqueKernelHandle otherThread(started.hThread);
  // It has written its copy, closed it, and is about to move it into the destination's place.
  const std::wstring othersCopy =
      actions::TemporaryCopyPath(folder / L"target.dll", started.dwProcessId, 1000, 0);
  ASSERT_TRUE(WriteFileBytes(othersCopy, "the other launcher's copy"));
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "dao"));

  EXPECT_TRUE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll").copied);
  EXPECT_EQ(FileBytes(othersCopy), "the other launcher's copy") << "a running launcher's copy was removed";

  // Once that launcher is gone, what it left behind is a leftover like any other.
  ASSERT_TRUE(::TerminateProcess(other.get(), 1));
  ASSERT_EQ(::WaitForSingleObject(other.get(), 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll").copied);
  EXPECT_EQ(FolderEntries(folder / L""), (std::vector<std::wstring>{L"Dao350.dll", L"target.dll"}));
}

TEST_F(Win32FileSystemTest, CopyOfAReadOnlySourceCanBeReplacedByTheNextClick) {
  // Every file on a disc is read-only; the deployed copy must not be, or the next click would fail.
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "from the disc"));
  ASSERT_TRUE(::SetFileAttributesW((folder / L"Dao350.dll").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll").copied);
  EXPECT_FALSE(::GetFileAttributesW((folder / L"target.dll").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll").copied);
  EXPECT_EQ(FileBytes(folder / L"target.dll"), "from the disc");
  ::SetFileAttributesW((folder / L"Dao350.dll").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A folder chain below the test folder whose full path is longer than the plain file functions take;
// created through the "\\?\" form, which is the only way to make it.
std::wstring MakeLongFolder(const TempFolder& folder, std::wstring_view segment, std::size_t atLeast) {
  std::wstring path = folder / L"";
  path.pop_back();
  while (path.size() < atLeast) {
    path += L"\\";
    path += segment;
    if (!::CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr)) return std::wstring();
  }
  return path;
}

TEST_F(Win32FileSystemTest, ReadsAndCopiesPastTheClassicPathLimit) {
  const std::wstring deep = MakeLongFolder(folder, L"a folder on the installation medium", 300);
  ASSERT_FALSE(deep.empty());
  ASSERT_GT(deep.size(), 260u);
  ASSERT_TRUE(WriteFileBytes(L"\\\\?\\" + deep + L"\\voabc.txt", "notes"));
  EXPECT_EQ(files.ReadWholeFile(deep + L"\\voabc.txt").bytes, "notes");
  EXPECT_TRUE(files.CopyReplacing(deep + L"\\voabc.txt", deep + L"\\copy.txt").copied);
  EXPECT_TRUE(files.CopyReplacing(deep + L"\\voabc.txt", deep + L"\\copy.txt").copied);
  EXPECT_EQ(FileBytes(L"\\\\?\\" + deep + L"\\copy.txt"), "notes");
  EXPECT_EQ(FolderEntries(L"\\\\?\\" + deep), (std::vector<std::wstring>{L"copy.txt", L"voabc.txt"}));
}

TEST_F(Win32FileSystemTest, ReadsAndCopiesThroughNamesOutsideTheAnsiCodePage) {
  // Hangul, Devanagari and a character outside the Basic Multilingual Plane: none of them is in code
  // page 936, so a single ANSI call on the way would lose the path.
  const std::wstring named = folder / L"설치 디스크 स्थापना \U0001F4BF";
  ASSERT_TRUE(::CreateDirectoryW(named.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(named + L"\\voabc.txt", "notes"));
  EXPECT_EQ(files.ReadWholeFile(named + L"\\voabc.txt").bytes, "notes");
  EXPECT_TRUE(files.CopyReplacing(named + L"\\voabc.txt", named + L"\\복사.txt").copied);
  EXPECT_EQ(FileBytes(named + L"\\복사.txt"), "notes");
}

}  // namespace

namespace {

// A medium that fails part-way (a scratched disc, an ejected drive): the system's ReadFile, except that
// a read reaching past failAt fails with readFailure, as Wine cannot make a real read fail part-way
// (it does not enforce byte-range locks on reads).
using ReadFileFunction = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
ReadFileFunction realReadFile = nullptr;
DWORD failAt = 0;
DWORD handedOut = 0;
constexpr DWORD kReadFailure = ERROR_CRC;

BOOL WINAPI ReadFileFailingPartWay(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got,
                                   LPOVERLAPPED overlapped) {
  if (handedOut + size > failAt) {
    if (got) *got = 0;
    ::SetLastError(kReadFailure);
    return FALSE;
  }
  const BOOL ok = realReadFile(file, buffer, size, got, overlapped);
  if (ok && got) handedOut += *got;
  return ok;
}

TEST_F(Win32FileSystemTest, ReadFailingPartWayIsCutShortAndStillCloses) {
  const std::string bytes = Pattern(300 * 1024);
  ASSERT_TRUE(WriteFileBytes(folder / L"voabc.txt", bytes));
  actions::FileRead read;
  {
    windows_test::ImportHook hook("kernel32.dll", "ReadFile",
                                  reinterpret_cast<void*>(&ReadFileFailingPartWay));
    ASSERT_TRUE(hook.active());
    realReadFile = reinterpret_cast<ReadFileFunction>(hook.original());
    failAt = 150 * 1024 + 5;
    handedOut = 0;
    read = files.ReadWholeFile(folder / L"voabc.txt");
  }
  EXPECT_EQ(read.status, ReadStatus::CutShort);
  EXPECT_EQ(read.error, static_cast<actions::SystemError>(kReadFailure));
  // Every chunk before the failing one, and nothing of it.
  EXPECT_EQ(read.bytes.size(), handedOut);
  EXPECT_GE(read.bytes.size(), 128u * 1024u);
  EXPECT_TRUE(read.bytes == bytes.substr(0, read.bytes.size()));
  EXPECT_TRUE(OpenWithoutSharing(folder / L"voabc.txt", GENERIC_READ | GENERIC_WRITE))
      << "the file stayed open";
}

}  // namespace
