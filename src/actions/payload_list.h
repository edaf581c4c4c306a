// The payload list that a shipped setup.exe carries in its resources: the SHA-256, SHA-1 and size of
// every file on the medium that the launcher may show, copy or start, read strictly. Any departure from the
// format makes the whole list damaged, and a damaged list vouches for nothing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace actions {

using Sha256Digest = std::array<std::uint8_t, 32>;
using Sha1Digest = std::array<std::uint8_t, 20>;

// The first line of every list of this format. The list is linked into the program that reads it, so a
// program only ever meets the version it was built with.
inline constexpr std::string_view kPayloadListHeader = "TARVIN PAYLOAD LIST 2";

// What the list vouches for lies on the medium as the notes or below the components folder.
inline constexpr std::string_view kListedNotes = "voabc.txt";
inline constexpr std::string_view kListedFolder = "vorncopy\\";

struct PayloadEntry {
  Sha256Digest sha256{};
  Sha1Digest sha1{};  // for a Windows whose CryptoAPI has no SHA-256
  std::uint64_t size = 0;
  std::string path;  // UTF-8, relative to the medium's root, components joined by backslashes
};

class PayloadList {
 public:
  // Empty when the text breaks any rule of the format.
  static std::optional<PayloadList> Parse(std::string_view text);

  // The entry of a path relative to the base directory, as the launcher names it; ASCII letters are
  // compared without case, as Windows opens either spelling for the other. Null when the list does not
  // name it.
  const PayloadEntry* Find(std::wstring_view relativePath) const;

  const std::vector<PayloadEntry>& entries() const { return entries_; }

 private:
  std::vector<PayloadEntry> entries_;
};

}  // namespace actions
