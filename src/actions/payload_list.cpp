#include "actions/payload_list.h"

#include <algorithm>
#include <limits>

#include "actions/ascii_case.h"
#include "actions/utf16.h"

namespace actions {

namespace {

std::string AsciiLowered(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), FoldAscii<char>);
  return lowered;
}

std::optional<std::uint8_t> HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  return std::nullopt;  // capitals too: the format has one spelling of each digest
}

template <typename Digest>
std::optional<Digest> ParseDigest(std::string_view hex) {
  Digest digest{};
  if (hex.size() != 2 * digest.size()) return std::nullopt;
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const auto high = HexDigit(hex[2 * i]);
    const auto low = HexDigit(hex[2 * i + 1]);
    if (!high || !low) return std::nullopt;
    digest[i] = static_cast<std::uint8_t>(*high << 4 | *low);
  }
  return digest;
}

std::optional<std::uint64_t> ParseSize(std::string_view digits) {
  if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
  std::uint64_t size = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (size > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    size = size * 10 + digit;
  }
  return size;
}

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no surrogates, nothing past
// U+10FFFF.
bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

// Components joined by single backslashes, none empty, "." or "..", and no character below a blank; the
// notes or a file below the components folder.
bool IsPayloadPath(std::string_view path) {
  if (!IsUtf8(path)) return false;
  const std::string lowered = AsciiLowered(path);
  if (lowered != kListedNotes && lowered.compare(0, kListedFolder.size(), kListedFolder) != 0) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view component = path.substr(start, end - start);
    if (component.empty() || component == "." || component == "..") return false;
    if (std::any_of(component.begin(), component.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
      return false;
    if (end == path.size()) return true;
    start = end + 1;
  }
}

// The next field of a line, up to the blank that ends it; empty when no blank follows.
std::optional<std::string_view> Field(std::string_view& line) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const std::string_view field = line.substr(0, blank);
  line.remove_prefix(blank + 1);
  return field;
}

std::optional<PayloadEntry> ParseLine(std::string_view line) {
  const auto sha256Field = Field(line);
  const auto sha1Field = Field(line);
  const auto sizeField = Field(line);
  if (!sizeField) return std::nullopt;
  const auto sha256 = ParseDigest<Sha256Digest>(*sha256Field);
  const auto sha1 = ParseDigest<Sha1Digest>(*sha1Field);
  const auto size = ParseSize(*sizeField);
  if (!sha256 || !sha1 || !size || !IsPayloadPath(line)) return std::nullopt;
  return PayloadEntry{*sha256, *sha1, *size, std::string(line)};
}

}  // namespace

std::optional<PayloadList> PayloadList::Parse(std::string_view text) {
  // Every line ends in one LF, the last one too; a CR anywhere is damage, not a line end.
  if (text.empty() || text.back() != '\n' || text.find('\r') != std::string_view::npos) return std::nullopt;
  const std::size_t headerEnd = text.find('\n');
  if (text.substr(0, headerEnd) != kPayloadListHeader) return std::nullopt;

  PayloadList list;
  for (std::size_t start = headerEnd + 1; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    auto entry = ParseLine(text.substr(start, end - start));
    if (!entry) return std::nullopt;
    // Sorted by path, byte by byte, each path once.
    if (!list.entries_.empty() && !(list.entries_.back().path < entry->path)) return std::nullopt;
    list.entries_.push_back(std::move(*entry));
    start = end + 1;
  }

  // No two paths that Windows would take for one another. Pairs, not a sorted copy: a list names a
  // handful of files, and the program stays small.
  for (auto later = list.entries_.begin(); later != list.entries_.end(); ++later) {
    for (auto earlier = list.entries_.begin(); earlier != later; ++earlier) {
      if (SameIgnoringAsciiCase(earlier->path, later->path)) return std::nullopt;
    }
  }
  return list;
}

const PayloadEntry* PayloadList::Find(std::wstring_view relativePath) const {
  const std::string wanted = EncodeUtf8(relativePath);
  for (const PayloadEntry& entry : entries_) {
    if (SameIgnoringAsciiCase(entry.path, wanted)) return &entry;
  }
  return nullptr;
}

}  // namespace actions
