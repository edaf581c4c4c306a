#include "actions/notes_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text_codecs.h"

namespace {

using actions::DecodeUtf16LittleEndian;
using actions::DecodeUtf8;
using actions::DetectEncodingMark;
using actions::EncodingMark;
using actions::NotesPanelText;
using actions::ReadExtent;
using actions::TextEncoding;
using namespace std::string_literals;

constexpr wchar_t kFffd = actions::kReplacementCharacter;
constexpr wchar_t kNul = actions::kVisibleNul;

std::wstring WholeAnsiFile(const std::string& bytes) {
  return NotesPanelText(bytes, ReadExtent::WholeFile, test_text::DecodeLatin1);
}

// --- Lines -------------------------------------------------------------------------------------

struct LineCase {
  const char* name;
  std::string file;
  std::wstring panel;
};

// The case's name stands for it in test lists, whose names must not change from build to build.
void PrintTo(const LineCase& lineCase, std::ostream* out) {
  *out << lineCase.name;
}

class LineEnds : public testing::TestWithParam<LineCase> {};

TEST_P(LineEnds, EveryLineIsPrecededByCrLf) {
  EXPECT_EQ(WholeAnsiFile(GetParam().file), GetParam().panel);
}

INSTANTIATE_TEST_SUITE_P(
    NotesText, LineEnds,
    testing::Values(
        LineCase{"TwoLinesCrLf", "a\r\nb", L"\r\na\r\nb"}, LineCase{"TwoLinesCr", "a\rb", L"\r\na\r\nb"},
        LineCase{"LoneLfStaysInsideTheLine", "a\nb", L"\r\na\nb"},
        LineCase{"LfBeforeCrStaysInsideTheLine", "a\n\rb", L"\r\na\n\r\nb"},
        LineCase{"FinalTerminatorAddsNoLine", "a\r\n", L"\r\na"},
        LineCase{"FinalCrAddsNoLine", "a\r", L"\r\na"},
        LineCase{"LastLineWithoutTerminatorIsKept", "a\r\nlast", L"\r\na\r\nlast"},
        LineCase{"EmptyFile", "", L""}, LineCase{"OnlyTerminators", "\r\n\r\r\n", L"\r\n\r\n\r\n"},
        LineCase{"CrCrLfIsTwoLines", "a\r\r\nb", L"\r\na\r\n\r\nb"}, LineCase{"OnlyALoneLf", "\n", L"\r\n\n"},
        LineCase{"EveryKindMixed", "1\r\n2\r3\n4\r\n\r\n5", L"\r\n1\r\n2\r\n3\n4\r\n\r\n5"}),
    [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

TEST(NotesText, AnsiLinesAreDecodedOneByOneWithoutTheirTerminators) {
  std::vector<std::string> decoded;
  auto recordingDecoder = [&](std::string_view bytes) {
    decoded.emplace_back(bytes);
    return test_text::DecodeCp936(bytes);
  };
  const std::string file = test_text::Cp936("安装须知:\r\n确认\n取消\r\r\n完成");
  EXPECT_EQ(NotesPanelText(file, ReadExtent::WholeFile, recordingDecoder),
            L"\r\n安装须知:\r\n确认\n取消\r\n\r\n完成");
  EXPECT_EQ(decoded, (std::vector<std::string>{test_text::Cp936("安装须知:"), test_text::Cp936("确认\n取消"),
                                               test_text::Cp936("完成")}));
}

TEST(NotesText, StrayLeadByteCannotSwallowTheLineEnd) {
  // Like the system's conversion of a double-byte code page: a lead byte takes whatever follows it.
  auto greedyDecoder = [](std::string_view bytes) {
    std::wstring units;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (static_cast<unsigned char>(bytes[i]) >= 0x81) {
        units.push_back(L'?');
        ++i;
      } else {
        units.push_back(static_cast<wchar_t>(bytes[i]));
      }
    }
    return units;
  };
  EXPECT_EQ(NotesPanelText("x\xD6\r\nnext", ReadExtent::WholeFile, greedyDecoder), L"\r\nx?\r\nnext");
}

// --- Byte order marks ----------------------------------------------------------------------------

std::wstring NeverAnsi(std::string_view) {
  ADD_FAILURE() << "a file with a Unicode byte order mark went through the ANSI decoder";
  return {};
}

TEST(NotesText, EncodingMarks) {
  EXPECT_EQ(DetectEncodingMark("\xEF\xBB\xBFx"), (EncodingMark{TextEncoding::Utf8, 3}));
  EXPECT_EQ(DetectEncodingMark("\xFF\xFEx\0"s), (EncodingMark{TextEncoding::Utf16LittleEndian, 2}));
  // Big-endian UTF-16, a partial mark and no mark at all are the ANSI code page's business.
  EXPECT_EQ(DetectEncodingMark("\xFE\xFF\0x"s), (EncodingMark{TextEncoding::Ansi, 0}));
  EXPECT_EQ(DetectEncodingMark("\xEF\xBB"), (EncodingMark{TextEncoding::Ansi, 0}));
  EXPECT_EQ(DetectEncodingMark(""), (EncodingMark{TextEncoding::Ansi, 0}));
}

TEST(NotesText, Utf8FileWithMarkIsDecodedAsUtf8WithoutTheMark) {
  EXPECT_EQ(NotesPanelText("\xEF\xBB\xBF确认\r\nb\rc\nd", ReadExtent::WholeFile, NeverAnsi),
            L"\r\n确认\r\nb\r\nc\nd");
  EXPECT_EQ(NotesPanelText("\xEF\xBB\xBF", ReadExtent::WholeFile, NeverAnsi), L"");
}

TEST(NotesText, Utf16FileWithMarkIsDecodedAsUtf16WithoutTheMark) {
  const std::string file = "\xFF\xFE" + test_text::Utf16LeBytes("确认\r\nb\rc\nd😀");
  EXPECT_EQ(NotesPanelText(file, ReadExtent::WholeFile, NeverAnsi),
            test_text::Utf16("\r\n确认\r\nb\r\nc\nd😀"));
}

TEST(NotesText, FileWithoutMarkGoesThroughTheAnsiDecoderEvenWhenItLooksLikeUtf8) {
  const std::string file = "确";  // three UTF-8 bytes, shown as the ANSI code page reads them
  EXPECT_EQ(NotesPanelText(file, ReadExtent::WholeFile, test_text::DecodeLatin1), L"\r\n\u00E7\u00A1\u00AE");
}

// --- NUL characters and invalid sequences -----------------------------------------------------------

TEST(NotesText, NulCharactersAreShownInsteadOfEndingTheText) {
  EXPECT_EQ(WholeAnsiFile("a\0b\r\n\0"s), (std::wstring{L'\r', L'\n', L'a', kNul, L'b', L'\r', L'\n', kNul}));
  EXPECT_EQ(NotesPanelText("\xEF\xBB\xBF"
                           "a\0b"s,
                           ReadExtent::WholeFile, NeverAnsi),
            (std::wstring{L'\r', L'\n', L'a', kNul, L'b'}));
  EXPECT_EQ(NotesPanelText("\xFF\xFE"
                           "a\0\0\0b\0"s,
                           ReadExtent::WholeFile, NeverAnsi),
            (std::wstring{L'\r', L'\n', L'a', kNul, L'b'}));
}

struct Utf8Case {
  const char* name;
  std::string bytes;
  std::wstring units;
};

void PrintTo(const Utf8Case& utf8Case, std::ostream* out) {
  *out << utf8Case.name;
}

class Utf8Decoding : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Decoding, GivesUtf16UnitsAndOneReplacementPerMaximalInvalidPart) {
  EXPECT_EQ(DecodeUtf8(GetParam().bytes), GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(
    NotesText, Utf8Decoding,
    testing::Values(Utf8Case{"Ascii", "abc", L"abc"}, Utf8Case{"TwoBytes", "\xC3\xA9", L"\u00E9"},
                    Utf8Case{"ThreeBytes", "\xE7\xA1\xAE", L"\u786E"},
                    Utf8Case{"FourBytesBecomeASurrogatePair", "\xF0\x9F\x98\x80",
                             std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}},
                    Utf8Case{"HighestCodePoint", "\xF4\x8F\xBF\xBF",
                             std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)}},
                    Utf8Case{"BrokenSequenceKeepsTheByteThatBrokeIt", "\xC3(", std::wstring{kFffd, L'('}},
                    Utf8Case{"OverlongSlash", "\xC0\xAF", std::wstring{kFffd, kFffd}},
                    Utf8Case{"OverlongThreeBytes", "\xE0\x80\xAF", std::wstring{kFffd, kFffd, kFffd}},
                    Utf8Case{"EncodedSurrogate", "\xED\xA0\x80", std::wstring{kFffd, kFffd, kFffd}},
                    Utf8Case{"AboveU10FFFF", "\xF4\x90\x80\x80", std::wstring{kFffd, kFffd, kFffd, kFffd}},
                    Utf8Case{"TruncatedAtTheEnd", "a\xE7\xA1", std::wstring{L'a', kFffd}},
                    Utf8Case{"LoneContinuationBytes", "\x80\xBF", std::wstring{kFffd, kFffd}},
                    Utf8Case{"InvalidLeadBytes", "\xF5\xFF", std::wstring{kFffd, kFffd}},
                    Utf8Case{"CrEndsABrokenSequence", "\xE7\r", std::wstring{kFffd, L'\r'}}),
    [](const testing::TestParamInfo<Utf8Case>& info) { return info.param.name; });

TEST(NotesText, Utf16DecodingReplacesUnpairedSurrogatesAndAnOddByte) {
  EXPECT_EQ(DecodeUtf16LittleEndian("\x3D\xD8\x00\xDE"s), (std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}));
  EXPECT_EQ(DecodeUtf16LittleEndian("\x3D\xD8"
                                    "a\0"s),
            (std::wstring{kFffd, L'a'}));
  EXPECT_EQ(DecodeUtf16LittleEndian("\x00\xDE"
                                    "a\0"s),
            (std::wstring{kFffd, L'a'}));
  EXPECT_EQ(DecodeUtf16LittleEndian("a\0\x3D\xD8"s), (std::wstring{L'a', kFffd}));
  EXPECT_EQ(DecodeUtf16LittleEndian("a\0b"s), (std::wstring{L'a', kFffd}));
}

TEST(NotesText, InvalidBytesNeitherCutTheTextNorJoinLines) {
  EXPECT_EQ(NotesPanelText("\xEF\xBB\xBF\xE7\xA1\r\nrest\xFF", ReadExtent::WholeFile, NeverAnsi),
            (std::wstring{L'\r', L'\n', kFffd, L'\r', L'\n', L'r', L'e', L's', L't', kFffd}));
}

// --- A read that failed part-way -----------------------------------------------------------------

TEST(NotesText, CutShortFileKeepsOnlyItsCompleteLines) {
  EXPECT_EQ(NotesPanelText("a\r\nb\rpart", ReadExtent::CutShort, test_text::DecodeLatin1), L"\r\na\r\nb");
  EXPECT_EQ(NotesPanelText("a\r\nb\r\n", ReadExtent::CutShort, test_text::DecodeLatin1), L"\r\na\r\nb");
  EXPECT_EQ(NotesPanelText("no terminator yet", ReadExtent::CutShort, test_text::DecodeLatin1), L"");
  // Cut inside a character: the broken character belongs to the line that never finished.
  EXPECT_EQ(NotesPanelText("\xEF\xBB\xBF"
                           "a\r\n\xE7\xA1",
                           ReadExtent::CutShort, NeverAnsi),
            L"\r\na");
  const std::string utf16 = "\xFF\xFE" + test_text::Utf16LeBytes("确认\r\n取");
  EXPECT_EQ(NotesPanelText(utf16.substr(0, utf16.size() - 1), ReadExtent::CutShort, NeverAnsi), L"\r\n确认");
}

// --- Size --------------------------------------------------------------------------------------------

TEST(NotesText, LargeFileArrivesWhole) {
  // Far beyond the 30 000, 32 K and 64 K limits a text control or a 16-bit count would impose.
  const std::string line(79, 'x');
  std::string file;
  for (int i = 0; i < 20000; ++i) file += line + "\r\n";
  const std::wstring panel = WholeAnsiFile(file);
  EXPECT_EQ(panel.size(), 20000u * 81u);
  EXPECT_EQ(panel.substr(panel.size() - 81), L"\r\n" + std::wstring(79, L'x'));
}

// --- Faults that a mutation run (scripts/mutate) found no test above to catch -----------------------

TEST(NotesTextFoundByMutation, ACutShortFileKeepsAnEmptyLastCompleteLine) {
  EXPECT_EQ(NotesPanelText("a\r\rpart", ReadExtent::CutShort, test_text::DecodeLatin1), L"\r\na\r\n");
  EXPECT_EQ(NotesPanelText("\xEF\xBB\xBF"
                           "a\r\n\r\npart",
                           ReadExtent::CutShort, NeverAnsi),
            L"\r\na\r\n");
}

// The first and last code point of each sequence length and of each lead byte's own bounds, and their
// invalid neighbours.
INSTANTIATE_TEST_SUITE_P(
    NotesTextFoundByMutation, Utf8Decoding,
    testing::Values(
        Utf8Case{"LastOneByte", "\x7F", L"\x7F"}, Utf8Case{"FirstTwoBytes", "\xC2\x80", L"\u0080"},
        Utf8Case{"LastTwoBytes", "\xDF\xBF", L"\u07FF"},
        Utf8Case{"OverlongBelowC2", "\xC1\xBF", std::wstring{kFffd, kFffd}},
        Utf8Case{"ContinuationBelow80", "\xC2\x7F", std::wstring{kFffd, L'\x7F'}},
        Utf8Case{"ContinuationAboveBF", "\xC2\xC0", std::wstring{kFffd, kFffd}},
        Utf8Case{"FirstThreeBytes", "\xE0\xA0\x80", L"\u0800"},
        Utf8Case{"OverlongBelowE0A0", "\xE0\x9F\xBF", std::wstring{kFffd, kFffd, kFffd}},
        Utf8Case{"FirstAfterE0", "\xE1\x80\x80", L"\u1000"},
        Utf8Case{"LastBeforeSurrogates", "\xED\x9F\xBF", L"\uD7FF"},
        Utf8Case{"FirstAfterSurrogates", "\xEE\x80\x80", L"\uE000"},
        Utf8Case{"LastThreeBytes", "\xEF\xBF\xBF", std::wstring{wchar_t(0xFFFF)}},
        Utf8Case{"FirstFourBytes", "\xF0\x90\x80\x80", std::wstring{wchar_t(0xD800), wchar_t(0xDC00)}},
        Utf8Case{"OverlongBelowF090", "\xF0\x8F\xBF\xBF", std::wstring{kFffd, kFffd, kFffd, kFffd}},
        Utf8Case{"FirstAfterF0", "\xF1\x80\x80\x80", std::wstring{wchar_t(0xD8C0), wchar_t(0xDC00)}},
        Utf8Case{"LeadAboveF4", "\xF5\x80\x80\x80", std::wstring{kFffd, kFffd, kFffd, kFffd}},
        Utf8Case{"SecondContinuationBelow80", "\xE1\x80\x7F", std::wstring{kFffd, L'\x7F'}},
        Utf8Case{"SecondContinuationAboveBF", "\xE1\x80\xC0", std::wstring{kFffd, kFffd}}),
    [](const testing::TestParamInfo<Utf8Case>& info) { return info.param.name; });

TEST(NotesTextFoundByMutation, ASequenceCutByTheEndOfTheBytesIsReplacedWhateverFollowsInMemory) {
  const std::string_view whole = "\xE7\xA1\xAE";
  EXPECT_EQ(DecodeUtf8(whole.substr(0, 2)), std::wstring{kFffd});
  EXPECT_EQ(DecodeUtf8(whole), L"\u786E");
}

// What the reader sees in place of an invalid sequence and of a NUL: the characters that Unicode has
// for them, U+FFFD and U+2400.
TEST(NotesTextFoundByMutation, TheStandInsAreTheReplacementCharacterAndTheSymbolForNull) {
  EXPECT_EQ(DecodeUtf8("\xFF"), L"\uFFFD");
  EXPECT_EQ(WholeAnsiFile("\0"s), L"\r\n\u2400");
}

// The first and last unit of each half of a pair, and their neighbours outside it.
TEST(NotesTextFoundByMutation, Utf16PairsAreMadeOfExactlyTheSurrogateRanges) {
  const auto bytesOf = [](const std::wstring& units) {
    std::string bytes;
    for (wchar_t unit : units) {
      bytes.push_back(static_cast<char>(unit & 0xFF));
      bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
  };
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {{wchar_t(0xD800), wchar_t(0xDC00)}, {wchar_t(0xD800), wchar_t(0xDC00)}},
      {{wchar_t(0xDBFF), wchar_t(0xDFFF)}, {wchar_t(0xDBFF), wchar_t(0xDFFF)}},
      {{wchar_t(0xD7FF), wchar_t(0xE000)}, {wchar_t(0xD7FF), wchar_t(0xE000)}},
      {{wchar_t(0xD800), wchar_t(0xE000)}, {kFffd, wchar_t(0xE000)}},
      {{wchar_t(0xDC00), wchar_t(0xDC00)}, {kFffd, kFffd}},
      {{wchar_t(0xDFFF), wchar_t(0xD800)}, {kFffd, kFffd}},
  };
  for (const auto& [units, decoded] : cases) {
    EXPECT_EQ(DecodeUtf16LittleEndian(bytesOf(units)), decoded) << std::hex << int(units[0]);
  }
}

TEST(NotesTextFoundByMutation, AHighSurrogateAtTheEndIsReplacedWhateverFollowsInMemory) {
  const std::string pair = "\x3D\xD8\x00\xDE"s;
  EXPECT_EQ(DecodeUtf16LittleEndian(std::string_view(pair).substr(0, 2)), std::wstring{kFffd});
}

}  // namespace
