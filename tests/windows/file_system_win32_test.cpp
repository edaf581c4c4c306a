#include "actions/file_system_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

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

TEST_F(Win32FileSystemTest, MissingFileIsNotOpened) {
  EXPECT_EQ(files.ReadWholeFile(folder / L"voabc.txt").status, ReadStatus::NotOpened);
}

TEST_F(Win32FileSystemTest, FileHeldWithoutSharingIsNotOpened) {
  ASSERT_TRUE(WriteFileBytes(folder / L"voabc.txt", "notes"));
  const win32::UniqueFileHandle holder = OpenWithoutSharing(folder / L"voabc.txt", GENERIC_READ);
  ASSERT_TRUE(holder);
  EXPECT_EQ(files.ReadWholeFile(folder / L"voabc.txt").status, ReadStatus::NotOpened);
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
  EXPECT_TRUE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll"));
  EXPECT_EQ(FileBytes(folder / L"target.dll"), "new");
  EXPECT_EQ(FileBytes(folder / L"Dao350.dll"), "new");
}

TEST_F(Win32FileSystemTest, CopyCreatesAMissingDestination) {
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "dao"));
  EXPECT_TRUE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"copy.dll"));
  EXPECT_EQ(FileBytes(folder / L"copy.dll"), "dao");
}

TEST_F(Win32FileSystemTest, CopyOntoALockedDestinationFails) {
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "new"));
  ASSERT_TRUE(WriteFileBytes(folder / L"target.dll", "in use"));
  {
    const win32::UniqueFileHandle inUse = OpenWithoutSharing(folder / L"target.dll", GENERIC_READ);
    ASSERT_TRUE(inUse);
    EXPECT_FALSE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll"));
  }
  EXPECT_EQ(FileBytes(folder / L"target.dll"), "in use");
}

TEST_F(Win32FileSystemTest, CopyOfAMissingSourceFailsAndCreatesNothing) {
  EXPECT_FALSE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"target.dll"));
  EXPECT_EQ(FileBytes(folder / L"target.dll"), "<missing>");
}

TEST_F(Win32FileSystemTest, CopyIntoAMissingFolderFails) {
  ASSERT_TRUE(WriteFileBytes(folder / L"Dao350.dll", "dao"));
  EXPECT_FALSE(files.CopyReplacing(folder / L"Dao350.dll", folder / L"system32\\Dao350.dll"));
}

}  // namespace

namespace {

bool LockedRangeIsReadable(const std::wstring& path, DWORD lockedFrom) {
  const win32::UniqueFileHandle probe(::CreateFileW(path.c_str(), GENERIC_READ,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  char byte = 0;
  DWORD got = 0;
  return probe &&
         ::SetFilePointer(probe.get(), static_cast<LONG>(lockedFrom), nullptr, FILE_BEGIN) == lockedFrom &&
         ::ReadFile(probe.get(), &byte, 1, &got, nullptr) && got == 1;
}

TEST_F(Win32FileSystemTest, ReadFailingPartWayIsCutShortAndStillCloses) {
  const std::string bytes = Pattern(300 * 1024);
  ASSERT_TRUE(WriteFileBytes(folder / L"voabc.txt", bytes));
  const DWORD lockedFrom = 150 * 1024 + 5;
  {
    // A byte-range lock held through another handle makes reads over that range fail.
    const win32::UniqueFileHandle holder(::CreateFileW(
        (folder / L"voabc.txt").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    ASSERT_TRUE(::LockFile(holder.get(), lockedFrom, 0, 4096, 0));
    if (LockedRangeIsReadable(folder / L"voabc.txt", lockedFrom)) {
      ::UnlockFile(holder.get(), lockedFrom, 0, 4096, 0);
      GTEST_SKIP()
          << "this system does not enforce byte-range locks on reads (Wine does not), so no read can "
             "be made to fail part-way here";
    }
    const actions::FileRead read = files.ReadWholeFile(folder / L"voabc.txt");
    EXPECT_EQ(read.status, ReadStatus::CutShort);
    EXPECT_LE(read.bytes.size(), lockedFrom);
    EXPECT_GE(read.bytes.size(), 128u * 1024u);
    EXPECT_TRUE(read.bytes == bytes.substr(0, read.bytes.size()));
    ::UnlockFile(holder.get(), lockedFrom, 0, 4096, 0);
  }
  EXPECT_TRUE(OpenWithoutSharing(folder / L"voabc.txt", GENERIC_READ | GENERIC_WRITE));
}

}  // namespace
