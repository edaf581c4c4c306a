#include "common/windows_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "text_codecs.h"

namespace {

using common::WindowsDirectoryFrom;

// Plays GetWindowsDirectoryA: each call writes what fits of its bytes (and a NUL after them when there is
// room) and returns its count.
struct ScriptedQuery {
  struct Answer {
    std::string written;
    unsigned count = 0;
  };
  std::vector<Answer> answers;
  std::vector<unsigned> sizesAsked;
  std::vector<std::string> buffersSeen;

  unsigned operator()(char* buffer, unsigned size) {
    sizesAsked.push_back(size);
    buffersSeen.emplace_back(buffer, size);
    const Answer& answer = answers.at(sizesAsked.size() - 1);
    const std::size_t fitting = std::min<std::size_t>(answer.written.size(), size);
    std::memcpy(buffer, answer.written.data(), fitting);
    if (fitting < size) buffer[fitting] = '\0';
    return answer.count;
  }
};

struct RecordingDecoder {
  std::vector<std::string>* inputs;
  std::wstring operator()(std::string_view bytes) const {
    inputs->emplace_back(bytes);
    return test_text::DecodeCp936(bytes);
  }
};

class WindowsDirectoryTest : public testing::Test {
 protected:
  std::wstring Query() { return WindowsDirectoryFrom(std::ref(query), RecordingDecoder{&decoded}); }
  ScriptedQuery query;
  std::vector<std::string> decoded;
};

TEST_F(WindowsDirectoryTest, ReturnsExactlyTheWrittenPathFromOneCall) {
  query.answers = {{"C:\\WINNT", 8}};
  EXPECT_EQ(Query(), L"C:\\WINNT");
  EXPECT_EQ(query.sizesAsked, std::vector<unsigned>{260});
  // The first buffer comes blank-filled; what the decoder gets is cut to the count, no NUL, no blanks.
  EXPECT_EQ(query.buffersSeen.at(0), std::string(260, ' '));
  EXPECT_EQ(decoded, std::vector<std::string>{"C:\\WINNT"});
}

TEST_F(WindowsDirectoryTest, FailingCallGivesTheEmptyString) {
  query.answers = {{"", 0}};
  EXPECT_EQ(Query(), L"");
  EXPECT_EQ(query.sizesAsked.size(), 1u);
}

TEST_F(WindowsDirectoryTest, CountWithTheTopBitSetIsAFailureNotASizeToRetryWith) {
  query.answers = {{"", 0x80000001u}};
  EXPECT_EQ(Query(), L"");
  EXPECT_EQ(query.sizesAsked.size(), 1u);
}

TEST_F(WindowsDirectoryTest, CountOf260IsFinal) {
  const std::string longest(260, 'W');
  query.answers = {{longest, 260}};
  EXPECT_EQ(Query(), std::wstring(260, L'W'));
  EXPECT_EQ(query.sizesAsked, std::vector<unsigned>{260});
}

TEST_F(WindowsDirectoryTest, CountAbove260AsksAgainWithThatSize) {
  const std::string path = "C:\\" + std::string(257, 'x');  // 260 characters need 261 bytes
  query.answers = {{"", 261}, {path, 260}};
  EXPECT_EQ(Query(), std::wstring(path.begin(), path.end()));
  EXPECT_EQ(query.sizesAsked, (std::vector<unsigned>{260, 261}));
  EXPECT_EQ(query.buffersSeen.at(1), std::string(261, ' '));
}

TEST_F(WindowsDirectoryTest, FailingSecondCallGivesTheEmptyString) {
  query.answers = {{"", 300}, {"", 0}};
  EXPECT_EQ(Query(), L"");
  EXPECT_EQ(query.sizesAsked.size(), 2u);
}

TEST_F(WindowsDirectoryTest, SecondAnswerThatIsASizeAgainGivesTheEmptyString) {
  // The directory grew between the calls: the second buffer holds nothing but blanks.
  query.answers = {{"", 300}, {"", 310}};
  EXPECT_EQ(Query(), L"");
  EXPECT_EQ(query.sizesAsked, (std::vector<unsigned>{260, 300}));
  // A count as large as the buffer leaves no room for the terminator: a size too, never a path.
  query = {};
  query.answers = {{"", 300}, {"", 300}};
  EXPECT_EQ(Query(), L"");
  EXPECT_EQ(query.sizesAsked, (std::vector<unsigned>{260, 300}));
}

TEST_F(WindowsDirectoryTest, DoubleBytePathIsCutToItsBytesBeforeDecoding) {
  const std::string gbk = test_text::Cp936("D:\\视窗系统");
  ASSERT_EQ(gbk.size(), 11u);  // three ASCII bytes and four double-byte characters
  query.answers = {{gbk, static_cast<unsigned>(gbk.size())}};
  EXPECT_EQ(Query(), L"D:\\视窗系统");
  EXPECT_EQ(decoded, std::vector<std::string>{gbk});
}

}  // namespace
