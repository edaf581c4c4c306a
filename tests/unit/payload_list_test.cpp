#include "actions/payload_list.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using actions::PayloadList;

const std::string kHeader = std::string(actions::kPayloadListHeader) + "\n";
const std::string kDigestA = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kDigestB = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string kSha1A = "a9993e364706816aba3e25717850c26c9cd0d89d";
const std::string kSha1B = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

std::string Line(const std::string& digest, const std::string& size, const std::string& path) {
  return digest + " " + (digest == kDigestA ? kSha1A : kSha1B) + " " + size + " " + path + "\n";
}

const std::string kWellFormed = kHeader + Line(kDigestA, "3", "voabc.txt") +
                                Line(kDigestB, "0", "vorncopy\\Dao350.dll") +
                                Line(kDigestA, "18446744073709551615", "vorncopy\\sub dir\\安装.exe");

TEST(PayloadList, AWellFormedListGivesEachFileItsDigestSizeAndPath) {
  const auto list = PayloadList::Parse(kWellFormed);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->entries().size(), 3u);
  const actions::PayloadEntry& notes = list->entries()[0];
  EXPECT_EQ(notes.path, "voabc.txt");
  EXPECT_EQ(notes.size, 3u);
  EXPECT_EQ(notes.sha256[0], 0xba);
  EXPECT_EQ(notes.sha256[1], 0x78);
  EXPECT_EQ(notes.sha256[31], 0xad);
  EXPECT_EQ(notes.sha1[0], 0xa9);
  EXPECT_EQ(notes.sha1[19], 0x9d);
  EXPECT_EQ(list->entries()[1].size, 0u);
  EXPECT_EQ(list->entries()[1].sha256[31], 0x55);
  EXPECT_EQ(list->entries()[2].size, 18446744073709551615u);
}

// The launcher's own names find their lines whatever the case of their ASCII letters, A to Z; no other
// name finds one. Paths are sorted by their bytes, not by their letters.
TEST(PayloadList, ANameFindsItsLineWhateverTheCaseOfItsLetters) {
  const std::string byBytes =
      kHeader + Line(kDigestA, "1", "vorncopy\\B.dll") + Line(kDigestB, "2", "vorncopy\\a.dll");
  constexpr int kNone = -1;
  const struct {
    std::string list;
    const wchar_t* name;
    int line;
  } lookups[] = {
      {kWellFormed, L"voabc.txt", 0},
      {kWellFormed, L"VORNCOPY\\dao350.DLL", 1},
      {kWellFormed, L"vorncopy\\SUB DIR\\安装.exe", 2},
      {kWellFormed, L"vorncopy\\msjter35.dll", kNone},
      {kWellFormed, L"vorncopy/Dao350.dll", kNone},
      {kWellFormed, L"Dao350.dll", kNone},
      {kWellFormed, L"voabc.txt ", kNone},
      {kHeader, L"voabc.txt", kNone},
      {byBytes, L"vorncopy\\A.DLL", 1},
      {kHeader + Line(kDigestA, "1", "vorncopy\\az.dll"), L"VORNCOPY\\AZ.DLL", 0},
  };
  for (const auto& [text, name, line] : lookups) {
    const auto list = PayloadList::Parse(text);
    ASSERT_TRUE(list) << text;
    EXPECT_EQ(list->Find(name), line == kNone ? nullptr : &list->entries().at(static_cast<std::size_t>(line)))
        << testing::PrintToString(name);
  }
}

// A wide name finds the line that holds it in UTF-8, at the first and last code point of each form beyond
// ASCII and at the last of ASCII; a name one code point away finds none.
TEST(PayloadList, AWideNameFindsItsLineInEachUtf8Form) {
  const struct {
    const wchar_t* name;
    const wchar_t* neighbour;
    const char* utf8;
  } names[] = {
      {L"\x7F", L"\x7E", "\x7F"},
      {L"\u0080", L"\u0081", "\xC2\x80"},
      {L"\u07FF", L"\u07FE", "\xDF\xBF"},
      {L"\u0800", L"\u0801", "\xE0\xA0\x80"},
      {L"\uFFFF", L"\uFFFE", "\xEF\xBF\xBF"},
      {L"\U00010000", L"\U00010001", "\xF0\x90\x80\x80"},
      {L"\U0010FFFF", L"\U0010FFFE", "\xF4\x8F\xBF\xBF"},
      {L"\U0001F600 \u00E9\u4E2D", L"\U0001F601 \u00E9\u4E2D", "\xF0\x9F\x98\x80 \xC3\xA9\xE4\xB8\xAD"},
  };
  for (const auto& [name, neighbour, utf8] : names) {
    const auto list = PayloadList::Parse(kHeader + Line(kDigestA, "1", std::string("vorncopy\\") + utf8));
    ASSERT_TRUE(list) << utf8;
    EXPECT_EQ(list->Find(std::wstring(L"vorncopy\\") + name), &list->entries().at(0)) << utf8;
    EXPECT_EQ(list->Find(std::wstring(L"vorncopy\\") + neighbour), nullptr) << utf8;
  }
}

// Text of the shared table (tests/payload_list_cases.txt) with the names defined before it put in.
std::string Expanded(std::string text, const std::map<std::string, std::string>& names) {
  for (const auto& [name, value] : names) {
    for (std::size_t at; (at = text.find("{" + name + "}")) != std::string::npos;)
      text.replace(at, name.size() + 2, value);
  }
  return text;
}

std::string Unescaped(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    const char escaped = text[++i];
    if (escaped == 'x') {
      bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped == 't' ? '\t' : escaped;
    }
  }
  return bytes;
}

struct ListCase {
  bool accepted;
  std::string why;
  std::string bytes;
};

std::vector<ListCase> SharedCases() {
  std::ifstream file(PAYLOAD_LIST_CASES, std::ios::binary);
  std::map<std::string, std::string> names;
  std::vector<ListCase> cases;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("= ", 0) == 0) {
      const std::size_t blank = line.find(' ', 2);
      names[line.substr(2, blank - 2)] = Expanded(line.substr(blank + 1), names);
      continue;
    }
    const std::size_t first = line.find(" | ");
    const std::size_t second = line.find(" |", first + 3);
    const std::string bytes = second + 2 < line.size() ? line.substr(second + 3) : "";
    cases.push_back({line.substr(0, first) == "accepted", line.substr(first + 3, second - first - 3),
                     Unescaped(Expanded(bytes, names))});
  }
  return cases;
}

// The launcher reads exactly the lists that the medium tools read.
TEST(PayloadList, TheSharedCasesAreAcceptedOrRefusedAsTheTableSays) {
  const std::vector<ListCase> cases = SharedCases();
  ASSERT_GT(cases.size(), 80u) << PAYLOAD_LIST_CASES;
  for (const auto& [accepted, why, bytes] : cases)
    EXPECT_EQ(PayloadList::Parse(bytes).has_value(), accepted) << why;
}

}  // namespace
