// From the bytes of the notes file to the text of the notes panel. Lines end at CR or CR LF (a lone LF
// stays inside its line), a last line without a terminator counts, and every line, the first one
// included, is preceded by CR LF, so the panel's text starts with an empty line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/ansi_decoder.h"

namespace actions {

// Shown for every byte sequence that is not valid in the file's encoding.
inline constexpr wchar_t kReplacementCharacter = 0xFFFD;
// Shown for a NUL character: the text control would otherwise end the text there without a trace.
inline constexpr wchar_t kVisibleNul = 0x2400;

enum class TextEncoding { Ansi, Utf8, Utf16LittleEndian };

struct EncodingMark {
  TextEncoding encoding = TextEncoding::Ansi;
  std::size_t length = 0;  // bytes of the byte order mark, which is not part of the text
  friend constexpr bool operator==(const EncodingMark&, const EncodingMark&) = default;
};

// A file is UTF-8 or UTF-16 LE only when it says so with a byte order mark; anything else is ANSI.
EncodingMark DetectEncodingMark(std::string_view bytes);

// Portable decoders into UTF-16 code units. Each maximal invalid subsequence (UTF-8) or unpaired
// surrogate or odd final byte (UTF-16) becomes one kReplacementCharacter.
std::wstring DecodeUtf8(std::string_view bytes);
std::wstring DecodeUtf16LittleEndian(std::string_view bytes);

// How much of the file the reader got: all of it, or the part before a read failed.
enum class ReadExtent { WholeFile, CutShort };

// The panel's text for the file's bytes, built in one pass. A file that was cut short keeps only its
// complete lines, since a line whose reading failed never reaches the panel.
std::wstring NotesPanelText(std::string_view fileBytes, ReadExtent extent,
                            const common::AnsiDecoder& decodeAnsi);

}  // namespace actions
