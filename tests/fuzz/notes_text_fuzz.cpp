// libFuzzer target for the notes file's way into the panel: the encoding marks, the UTF-8 and UTF-16
// decoders, the line reader and the slices a text with long lines goes in, on any bytes a medium might
// carry. Beyond the sanitizers' own checks it
// holds the output to properties that follow from the line rules, not from the code that applies them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "actions/notes_text.h"
#include "actions/panel_slices.h"

namespace {

// Stand-in for code page 936 with its shape: a lead byte 81..FE takes the next byte as its trail when
// that is 40..FE except 7F; a lead without one becomes a replacement. Like the real conversion it never
// makes a CR out of anything but a CR.
std::wstring DecodeDoubleByte(std::string_view bytes) {
  std::wstring out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      continue;
    }
    const bool hasTrail = lead >= 0x81 && lead <= 0xFE && i + 1 < bytes.size();
    const auto trail = hasTrail ? static_cast<std::uint8_t>(bytes[i + 1]) : 0;
    if (hasTrail && trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
      out.push_back(static_cast<wchar_t>(0x4E00 + ((lead - 0x81) * 191 + (trail - 0x40)) % 0x5000));
      ++i;
    } else {
      out.push_back(actions::kReplacementCharacter);
    }
  }
  return out;
}

void Require(bool condition) {
  if (!condition) std::abort();
}

bool IsHighSurrogate(wchar_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Every surrogate in the decoders' output belongs to a pair.
bool SurrogatesArePaired(std::wstring_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i])) {
      if (i + 1 >= text.size() || !IsLowSurrogate(text[i + 1])) return false;
      ++i;
    } else if (IsLowSurrogate(text[i])) {
      return false;
    }
  }
  return true;
}

std::string EncodeUtf8(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t codePoint = static_cast<std::uint16_t>(text[i]);
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (static_cast<std::uint16_t>(text[++i]) - 0xDC00);
    }
    if (codePoint < 0x80) {
      out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
      out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
      out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
      out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
  }
  return out;
}

void CheckUtf8Decoder(std::string_view bytes) {
  const std::wstring text = actions::DecodeUtf8(bytes);
  Require(text.size() <= bytes.size());
  Require(SurrogatesArePaired(text));
  // Valid input comes back byte for byte; invalid input leaves replacements that decode to themselves.
  const std::string again = EncodeUtf8(text);
  if (text.find(actions::kReplacementCharacter) == std::wstring::npos) Require(again == bytes);
  Require(actions::DecodeUtf8(again) == text);
}

void CheckUtf16Decoder(std::string_view bytes) {
  const std::wstring text = actions::DecodeUtf16LittleEndian(bytes);
  // One unit per pair of bytes, one replacement for an odd last byte.
  Require(text.size() == bytes.size() / 2 + bytes.size() % 2);
  Require(SurrogatesArePaired(text));
}

// Lines of a text whose terminators are CR and CR LF: one per CR, and one more for text after the last.
std::size_t ExpectedLineCount(std::wstring_view text) {
  std::size_t lines = 0;
  std::size_t afterLastTerminator = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'\r') continue;
    ++lines;
    afterLastTerminator = i + 1 < text.size() && text[i + 1] == L'\n' ? i + 2 : i + 1;
  }
  return lines + (afterLastTerminator < text.size() ? 1 : 0);
}

void CheckPanel(std::string_view file) {
  const common::AnsiDecoder decode = DecodeDoubleByte;
  const std::wstring whole = actions::NotesPanelText(file, actions::ReadExtent::WholeFile, decode);
  const std::wstring cut = actions::NotesPanelText(file, actions::ReadExtent::CutShort, decode);

  // A reader that failed part-way shows a beginning of what the whole file shows.
  Require(whole.starts_with(cut));
  // The control would end the text at a NUL.
  Require(whole.find(L'\0') == std::wstring::npos);

  const actions::EncodingMark mark = actions::DetectEncodingMark(file);
  Require(mark.length <= file.size());
  const std::string_view body = file.substr(mark.length);
  std::wstring decodedBody;
  switch (mark.encoding) {
    case actions::TextEncoding::Ansi:
      decodedBody = DecodeDoubleByte(body);
      break;
    case actions::TextEncoding::Utf8:
      decodedBody = actions::DecodeUtf8(body);
      break;
    case actions::TextEncoding::Utf16LittleEndian:
      decodedBody = actions::DecodeUtf16LittleEndian(body);
      break;
  }
  // Every line is preceded by CR LF, and no CR is left inside a line.
  const std::size_t lineCount = ExpectedLineCount(decodedBody);
  std::size_t carriageReturns = 0;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (whole[i] != L'\r') continue;
    ++carriageReturns;
    Require(i + 1 < whole.size() && whole[i + 1] == L'\n');
  }
  Require(carriageReturns == lineCount);
  Require(whole.empty() == (lineCount == 0));
  if (mark.encoding != actions::TextEncoding::Ansi) Require(SurrogatesArePaired(whole));
}

// The slices make up the text and part no pair; the slice size comes from the input too, so that small
// sizes meet the pairs often.
void CheckSlices(std::wstring_view text, std::size_t maxUnits) {
  std::wstring joined;
  for (const std::wstring_view slice : actions::PanelSlices(text, maxUnits)) {
    Require(!slice.empty() && slice.size() <= std::max<std::size_t>(maxUnits, 2));
    if (!joined.empty()) {
      Require(!(joined.back() == L'\r' && slice.front() == L'\n'));
      Require(!(IsHighSurrogate(joined.back()) && IsLowSurrogate(slice.front())));
    }
    joined += slice;
  }
  Require(joined == text);
  if (actions::NeedsSlicing(text)) Require(actions::LongestLineUnits(text) > actions::kLongLineUnits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckPanel(bytes);
  if (size > 0) {
    const std::wstring panel =
        actions::NotesPanelText(bytes.substr(1), actions::ReadExtent::WholeFile, DecodeDoubleByte);
    CheckSlices(panel, static_cast<std::uint8_t>(bytes[0]) % 16);
  }
  CheckUtf8Decoder(bytes);
  CheckUtf16Decoder(bytes);
  return 0;
}
