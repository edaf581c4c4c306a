#include "actions/temporary_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace {

// A folder of names; records what is removed.
class FakeFolder : public actions::CopyFolder {
 public:
  std::vector<std::wstring> FileNamesStartingWith(const std::wstring& folder,
                                                  const std::wstring& prefix) override {
    asked.push_back(folder);
    std::vector<std::wstring> matching;
    for (const std::wstring& name : names) {
      if (name.starts_with(prefix)) matching.push_back(name);
    }
    return matching;
  }
  void Remove(const std::wstring& path) override { removed.push_back(path); }
  bool ProcessRuns(unsigned long process) override {
    askedToRun.push_back(process);
    return std::find(running.begin(), running.end(), process) != running.end();
  }

  std::vector<std::wstring> names;
  std::vector<unsigned long> running;
  std::vector<std::wstring> asked;
  std::vector<std::wstring> removed;
  std::vector<unsigned long> askedToRun;
};

TEST(TemporaryCopyTest, ACopysOwnNameIsRecognisedAsOneAndNoOtherIs) {
  const std::wstring made =
      actions::TemporaryCopyPath(L"C:\\WINNT\\system32\\Dao350.dll", 4242, 987654321, 3);
  EXPECT_EQ(made, L"C:\\WINNT\\system32\\Dao350.dll.4242-987654321-3.tmp");
  EXPECT_TRUE(actions::IsTemporaryCopyName(L"Dao350.dll", L"Dao350.dll.4242-987654321-3.tmp"));
  EXPECT_TRUE(actions::IsTemporaryCopyName(L"Dao350.dll", L"DAO350.DLL.1-0-15.TMP"));
  for (const wchar_t* other :
       {L"Dao350.dll", L"Dao350.dll.tmp", L"Dao350.dll.1-2.tmp", L"Dao350.dll.1-2-3-4.tmp",
        L"Dao350.dll.1-2-.tmp", L"Dao350.dll.a-2-3.tmp", L"Dao350.dll.1-2-3.tmp.bak", L"Dao350.dll.1-2-3.txt",
        L"Dao350.dll1-2-3.tmp", L"msjter35.dll.1-2-3.tmp", L"Dao351.dll.1-2-3.tmp", L"Eao350.dll.1-2-3.tmp",
        L"Dao350.dll_1-2-3.tmp", L"Dao350.dll.1_2-3.tmp", L"Dao350.dll.1-2_3.tmp"}) {
    EXPECT_FALSE(actions::IsTemporaryCopyName(L"Dao350.dll", other)) << other;
  }
}

// Process ids, ticks and attempts are unsigned long, 32 bits on Windows and 64 on other builds of the
// same code: the largest of the type is written whole, without running past the digits' room.
TEST(TemporaryCopyTest, TheLargestNumbersAreWrittenWhole) {
  constexpr unsigned long kLargest = std::numeric_limits<unsigned long>::max();
  const std::wstring largest = std::to_wstring(kLargest);
  EXPECT_EQ(actions::TemporaryCopyPath(L"Dao350.dll", kLargest, kLargest, kLargest),
            L"Dao350.dll." + largest + L"-" + largest + L"-" + largest + L".tmp");
}

TEST(TemporaryCopyTest, NamesCompareWithoutCaseOverTheWholeAlphabetAndNeverPastTheirEnd) {
  EXPECT_TRUE(actions::IsTemporaryCopyName(L"zip.dll", L"ZIP.DLL.1-2-3.TMP"));
  EXPECT_TRUE(actions::IsTemporaryCopyName(L"AZaz.dll", L"azAZ.dll.1-2-3.tmp"));
  // A name shorter than the destination's is none of its copies, whatever lies after it in memory.
  const std::wstring whole = L"Dao350.dll.1-2-3.tmp";
  EXPECT_FALSE(actions::IsTemporaryCopyName(L"Dao350.dll", std::wstring_view(whole).substr(0, 5)));
  // Without a destination name there is nothing whose copies these could be.
  EXPECT_FALSE(actions::IsTemporaryCopyName(L"", L".1-2-3.tmp"));
}

TEST(TemporaryCopyTest, TheNextCopyRemovesOnlyLeftoversOfItsOwnDestination) {
  FakeFolder folder;
  folder.names = {L"Dao350.dll",           L"Dao350.dll.12-345-0.tmp",   L"Dao350.dll.backup.tmp",
                  L"Dao350.dll.7-8-9.tmp", L"msjter35.dll.12-345-0.tmp", L"other.tmp"};
  actions::RemoveLeftoverCopies(L"C:\\WINNT\\system32\\Dao350.dll", 1, folder);
  EXPECT_EQ(folder.asked, std::vector<std::wstring>{L"C:\\WINNT\\system32\\"});
  EXPECT_EQ(folder.removed, (std::vector<std::wstring>{L"C:\\WINNT\\system32\\Dao350.dll.12-345-0.tmp",
                                                       L"C:\\WINNT\\system32\\Dao350.dll.7-8-9.tmp"}));
}

TEST(TemporaryCopyTest, LeftoversOfAnotherProcessThatStillRunsStay) {
  FakeFolder folder;
  folder.names = {L"Dao350.dll.12-345-0.tmp", L"Dao350.dll.77-1-0.tmp", L"Dao350.dll.4242-9-1.tmp",
                  L"Dao350.dll.99999999999-1-0.tmp"};
  folder.running = {77, 4242};
  actions::RemoveLeftoverCopies(L"C:\\WINNT\\system32\\Dao350.dll", 4242, folder);
  // 77 is another launcher, perhaps between closing its copy and moving it; 4242 is this process, whose
  // own copies run one at a time; no process has the last id.
  EXPECT_EQ(folder.removed,
            (std::vector<std::wstring>{L"C:\\WINNT\\system32\\Dao350.dll.12-345-0.tmp",
                                       L"C:\\WINNT\\system32\\Dao350.dll.4242-9-1.tmp",
                                       L"C:\\WINNT\\system32\\Dao350.dll.99999999999-1-0.tmp"}));
  EXPECT_EQ(actions::TemporaryCopyProcess(L"Dao350.dll", L"Dao350.dll.77-1-0.tmp"), 77u);
}

TEST(TemporaryCopyTest, EveryIdUpToTheLargestIsTheProcessItNames) {
  FakeFolder folder;
  folder.names = {L"Dao350.dll.3000000000-1-0.tmp", L"Dao350.dll.4294967292-1-0.tmp",
                  L"Dao350.dll.4294967295-1-0.tmp", L"Dao350.dll.4294967296-1-0.tmp"};
  folder.running = {3000000000u, 4294967295u};
  actions::RemoveLeftoverCopies(L"C:\\WINNT\\system32\\Dao350.dll", 4, folder);
  EXPECT_EQ(folder.removed,
            (std::vector<std::wstring>{L"C:\\WINNT\\system32\\Dao350.dll.4294967292-1-0.tmp",
                                       L"C:\\WINNT\\system32\\Dao350.dll.4294967296-1-0.tmp"}));
  // An id beyond 32 bits names no process: the system is not asked about what it would be cut to.
  EXPECT_EQ(folder.askedToRun, (std::vector<unsigned long>{3000000000u, 4294967292u, 4294967295u}));
  EXPECT_EQ(actions::TemporaryCopyProcess(L"Dao350.dll", L"Dao350.dll.4294967295-1-0.tmp"), 4294967295u);
}

}  // namespace
