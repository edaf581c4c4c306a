#include "actions/payload_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using actions::PayloadList;

const std::string kDigestA = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kDigestB = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string Line(const std::string& digest, const std::string& size, const std::string& path) {
  return digest + " " + size + " " + path + "\n";
}

const std::string kWellFormed = "TARVIN PAYLOAD LIST 1\n" + Line(kDigestA, "3", "voabc.txt") +
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
  EXPECT_EQ(list->entries()[1].size, 0u);
  EXPECT_EQ(list->entries()[1].sha256[31], 0x55);
  EXPECT_EQ(list->entries()[2].size, 18446744073709551615u);
}

TEST(PayloadList, AListOfNoFilesIsWellFormed) {
  const auto list = PayloadList::Parse("TARVIN PAYLOAD LIST 1\n");
  ASSERT_TRUE(list);
  EXPECT_TRUE(list->entries().empty());
}

// The launcher's own names find their lines whatever the case of their ASCII letters, A to Z; no other
// name finds one. Paths are sorted by their bytes, not by their letters.
TEST(PayloadList, ANameFindsItsLineWhateverTheCaseOfItsLetters) {
  const std::string byBytes = "TARVIN PAYLOAD LIST 1\n" + Line(kDigestA, "1", "vorncopy\\B.dll") +
                              Line(kDigestB, "2", "vorncopy\\a.dll");
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
      {"TARVIN PAYLOAD LIST 1\n", L"voabc.txt", kNone},
      {byBytes, L"vorncopy\\A.DLL", 1},
      {"TARVIN PAYLOAD LIST 1\n" + Line(kDigestA, "1", "vorncopy\\az.dll"), L"VORNCOPY\\AZ.DLL", 0},
  };
  for (const auto& [text, name, line] : lookups) {
    const auto list = PayloadList::Parse(text);
    ASSERT_TRUE(list) << text;
    EXPECT_EQ(list->Find(name), line == kNone ? nullptr : &list->entries().at(static_cast<std::size_t>(line)))
        << testing::PrintToString(name);
  }
}

// A path is well-formed UTF-8: each form of two, three and four bytes is tried at its first and last
// code point and one past either end, and each sequence ends the path, where a cut one would run past it.
TEST(PayloadList, PathsAreUtf8ToTheEdgesOfEveryForm) {
  const struct {
    const char* what;
    std::string character;
    bool wellFormed;
  } cases[] = {
      {"U+007F", "\x7F", true},
      {"a lone continuation byte", "\x80", false},
      {"a continuation byte before three more", "\x81\x80\x80\x80", false},
      {"U+0080", "\xC2\x80", true},
      {"U+007F in two bytes", "\xC1\xBF", false},
      {"U+07FF", "\xDF\xBF", true},
      {"U+0800", "\xE0\xA0\x80", true},
      {"U+07FF in three bytes", "\xE0\x9F\xBF", false},
      {"U+1000", "\xE1\x80\x80", true},
      {"U+D7FF", "\xED\x9F\xBF", true},
      {"U+D800", "\xED\xA0\x80", false},
      {"U+DFFF", "\xED\xBF\xBF", false},
      {"U+E000", "\xEE\x80\x80", true},
      {"U+FFFF", "\xEF\xBF\xBF", true},
      {"U+10000", "\xF0\x90\x80\x80", true},
      {"U+FFFF in four bytes", "\xF0\x8F\xBF\xBF", false},
      {"U+40000", "\xF1\x80\x80\x80", true},
      {"U+FFFFF", "\xF3\xBF\xBF\xBF", true},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
      {"U+110000", "\xF4\x90\x80\x80", false},
      {"a lead byte past U+10FFFF", "\xF5\x80\x80\x80", false},
      {"a sequence cut short", "\xF0\x90\x80", false},
      {"a lead byte before a letter", "\xC2\x41", false},
      {"a lead byte before a lead byte", "\xC2\xC2\x80", false},
  };
  for (const auto& [what, character, wellFormed] : cases) {
    const auto list = PayloadList::Parse("TARVIN PAYLOAD LIST 1\n" + Line(kDigestA, "3", "vo" + character));
    EXPECT_EQ(list.has_value(), wellFormed) << what;
    if (list && wellFormed) {
      EXPECT_EQ(list->entries().at(0).path, "vo" + character) << what;
    }
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
    const auto list =
        PayloadList::Parse("TARVIN PAYLOAD LIST 1\n" + Line(kDigestA, "1", std::string("vorncopy\\") + utf8));
    ASSERT_TRUE(list) << utf8;
    EXPECT_EQ(list->Find(std::wstring(L"vorncopy\\") + name), &list->entries().at(0)) << utf8;
    EXPECT_EQ(list->Find(std::wstring(L"vorncopy\\") + neighbour), nullptr) << utf8;
  }
}

TEST(PayloadList, EveryDepartureFromTheFormatIsDamage) {
  const std::string header = "TARVIN PAYLOAD LIST 1\n";
  const std::string notes = Line(kDigestA, "3", "voabc.txt");
  const struct {
    const char* what;
    std::string text;
  } damaged[] = {
      {"nothing at all", ""},
      {"no header", notes},
      {"another version", "TARVIN PAYLOAD LIST 2\n" + notes},
      {"a header in other case", "tarvin payload list 1\n" + notes},
      {"a byte order mark", "\xEF\xBB\xBF" + header + notes},
      {"a CR before the header's LF", "TARVIN PAYLOAD LIST 1\r\n" + notes},
      {"a CR before a line's LF", header + kDigestA + " 3 voabc.txt\r\n"},
      {"no final LF", header + kDigestA + " 3 voabc.txt"},
      {"no final LF after the header", "TARVIN PAYLOAD LIST 1"},
      {"an empty line", header + "\n" + notes},
      {"an empty last line", header + notes + "\n"},
      {"capital hex",
       header + Line("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", "3", "voabc.txt")},
      {"a digit that is no hex", header + Line("g" + kDigestA.substr(1), "3", "voabc.txt")},
      {"a digest too short", header + Line(kDigestA.substr(2), "3", "voabc.txt")},
      {"a digest too long", header + Line(kDigestA + "00", "3", "voabc.txt")},
      {"a size with a leading zero", header + Line(kDigestA, "03", "voabc.txt")},
      {"a size of two zeros", header + Line(kDigestA, "00", "voabc.txt")},
      {"a signed size", header + Line(kDigestA, "+3", "voabc.txt")},
      {"a negative size", header + Line(kDigestA, "-3", "voabc.txt")},
      {"no size", header + Line(kDigestA, "", "voabc.txt")},
      {"a letter after a size's digits", header + Line(kDigestA, "3a", "voabc.txt")},
      {"a size past 64 bits", header + Line(kDigestA, "18446744073709551616", "voabc.txt")},
      {"a tab for a blank", header + kDigestA + "\t3 voabc.txt\n"},
      {"no path", header + kDigestA + " 3\n"},
      {"an empty path", header + Line(kDigestA, "3", "")},
      {"a leading backslash", header + Line(kDigestA, "3", "\\voabc.txt")},
      {"a trailing backslash", header + Line(kDigestA, "3", "vorncopy\\")},
      {"an empty component", header + Line(kDigestA, "3", "vorncopy\\\\Dao350.dll")},
      {"a dot component", header + Line(kDigestA, "3", "vorncopy\\.\\Dao350.dll")},
      {"a dot-dot component", header + Line(kDigestA, "3", "..\\Dao350.dll")},
      {"a control character in a path", header + Line(kDigestA, "3", "voabc\x01.txt")},
      {"the last control character in a path", header + Line(kDigestA, "3", "voabc\x1F.txt")},
      {"a path that is not UTF-8", header + Line(kDigestA, "3", "vo\xB0\xB2.txt")},
      {"a path whose first byte is not UTF-8", header + Line(kDigestA, "3", "\xB0vo.txt")},
      {"an overlong UTF-8 form", header + Line(kDigestA, "3", "vo\xC0\xAF.txt")},
      {"a UTF-8 surrogate", header + Line(kDigestA, "3", "vo\xED\xA0\x80.txt")},
      {"unsorted paths", header + Line(kDigestA, "3", "vorncopy\\Dao350.dll") + notes},
      {"paths sorted without case, not by byte",
       header + Line(kDigestA, "3", "vorncopy\\a.dll") + Line(kDigestA, "3", "vorncopy\\B.dll")},
      {"the same path twice", header + notes + notes},
      {"the same path twice but for case", header + Line(kDigestA, "3", "VOABC.TXT") + notes},
      {"the same path but for case, apart",
       header + Line(kDigestA, "3", "VOABC.TXT") + Line(kDigestA, "3", "Vorncopy\\a") + notes},
  };
  for (const auto& [what, text] : damaged) EXPECT_FALSE(PayloadList::Parse(text)) << what;
}

}  // namespace
