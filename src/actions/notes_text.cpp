#include "actions/notes_text.h"

#include <algorithm>
#include <cstdint>

#include "actions/utf16.h"

namespace actions {

namespace {

template <typename Char>
constexpr Char kCarriageReturn = static_cast<Char>('\r');
template <typename Char>
constexpr Char kLineFeed = static_cast<Char>('\n');

// Calls onLine for every line of text: up to a CR, which ends the line together with an LF right after
// it. A lone LF belongs to its line; text after the last terminator is a line of its own.
template <typename Char, typename OnLine>
void ForEachLine(std::basic_string_view<Char> text, OnLine&& onLine) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(kCarriageReturn<Char>, start);
    if (end == std::basic_string_view<Char>::npos) {
      onLine(text.substr(start));
      return;
    }
    onLine(text.substr(start, end - start));
    start = end + 1;
    if (start < text.size() && text[start] == kLineFeed<Char>) ++start;
  }
}

// What a reader that failed part-way had put into the panel: the lines it finished.
template <typename Char>
std::basic_string_view<Char> CompleteLinesOf(std::basic_string_view<Char> text) {
  const std::size_t lastTerminator = text.rfind(kCarriageReturn<Char>);
  if (lastTerminator == std::basic_string_view<Char>::npos) return {};
  return text.substr(0, lastTerminator + 1);
}

template <typename Char>
std::size_t LineCountOf(std::basic_string_view<Char> text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), kCarriageReturn<Char>)) + 1;
}

void AppendLine(std::wstring& panel, std::wstring_view line) {
  panel += L"\r\n";
  const std::size_t lineStart = panel.size();
  panel.append(line);
  std::replace(panel.begin() + static_cast<std::ptrdiff_t>(lineStart), panel.end(), L'\0', kVisibleNul);
}

void AppendCodePoint(std::wstring& out, std::uint32_t codePoint) {
  if (codePoint < 0x10000) {
    out.push_back(static_cast<wchar_t>(codePoint));
    return;
  }
  codePoint -= 0x10000;
  out.push_back(static_cast<wchar_t>(kHighSurrogateFirst + (codePoint >> 10)));
  out.push_back(static_cast<wchar_t>(kLowSurrogateFirst + (codePoint & 0x3FF)));
}

}  // namespace

EncodingMark DetectEncodingMark(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return {TextEncoding::Utf8, 3};
  if (bytes.starts_with("\xFF\xFE")) return {TextEncoding::Utf16LittleEndian, 2};
  return {TextEncoding::Ansi, 0};
}

std::wstring DecodeUtf8(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  std::size_t index = 0;
  while (index < bytes.size()) {
    const auto lead = static_cast<std::uint8_t>(bytes[index++]);
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      continue;
    }
    // The bounds of the first continuation byte rule out overlong forms, surrogates and values above
    // U+10FFFF; later continuation bytes are always 80..BF.
    int continuationCount = 0;
    std::uint8_t lower = 0x80;
    std::uint8_t upper = 0xBF;
    std::uint32_t codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      continuationCount = 1;
      codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      continuationCount = 2;
      codePoint = lead & 0x0Fu;
      if (lead == 0xE0) lower = 0xA0;
      if (lead == 0xED) upper = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      continuationCount = 3;
      codePoint = lead & 0x07u;
      if (lead == 0xF0) lower = 0x90;
      if (lead == 0xF4) upper = 0x8F;
    } else {
      out.push_back(kReplacementCharacter);
      continue;
    }
    bool complete = true;
    for (int i = 0; i < continuationCount; ++i) {
      if (index >= bytes.size()) {
        complete = false;
        break;
      }
      const auto next = static_cast<std::uint8_t>(bytes[index]);
      if (next < lower || next > upper) {
        complete = false;
        break;
      }
      codePoint = (codePoint << 6) | (next & 0x3Fu);
      ++index;
      lower = 0x80;
      upper = 0xBF;
    }
    // The byte that broke the sequence is not consumed: it starts the next character.
    if (complete) {
      AppendCodePoint(out, codePoint);
    } else {
      out.push_back(kReplacementCharacter);
    }
  }
  return out;
}

std::wstring DecodeUtf16LittleEndian(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size() / 2 + 1);
  const std::size_t unitCount = bytes.size() / 2;
  auto unitAt = [&](std::size_t i) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                      (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
  };
  for (std::size_t i = 0; i < unitCount; ++i) {
    const std::uint16_t unit = unitAt(i);
    if (IsHighSurrogate(unit) && i + 1 < unitCount && IsLowSurrogate(unitAt(i + 1))) {
      out.push_back(static_cast<wchar_t>(unit));
      out.push_back(static_cast<wchar_t>(unitAt(++i)));
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      out.push_back(kReplacementCharacter);
    } else {
      out.push_back(static_cast<wchar_t>(unit));
    }
  }
  if (bytes.size() % 2 != 0) out.push_back(kReplacementCharacter);
  return out;
}

std::wstring NotesPanelText(std::string_view fileBytes, ReadExtent extent,
                            const common::AnsiDecoder& decodeAnsi) {
  const EncodingMark mark = DetectEncodingMark(fileBytes);
  const std::string_view body = fileBytes.substr(mark.length);
  std::wstring panel;

  if (mark.encoding == TextEncoding::Ansi) {
    // Split before decoding, line by line: a stray lead byte at the end of a line must not swallow
    // the CR after it, as it would inside one long conversion.
    const std::string_view lines = extent == ReadExtent::CutShort ? CompleteLinesOf(body) : body;
    panel.reserve(lines.size() + 2 * LineCountOf(lines));
    ForEachLine(lines, [&](std::string_view line) {
      AppendLine(panel, line.empty() ? std::wstring() : decodeAnsi(line));
    });
    return panel;
  }

  // The Unicode decoders never swallow a CR, so these files are split after decoding.
  const std::wstring text =
      mark.encoding == TextEncoding::Utf8 ? DecodeUtf8(body) : DecodeUtf16LittleEndian(body);
  const std::wstring_view view = text;
  const std::wstring_view lines = extent == ReadExtent::CutShort ? CompleteLinesOf(view) : view;
  panel.reserve(lines.size() + 2 * LineCountOf(lines));
  ForEachLine(lines, [&](std::wstring_view line) { AppendLine(panel, line); });
  return panel;
}

}  // namespace actions
