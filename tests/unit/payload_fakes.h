// A stand-in for the platform's SHA-256 and payload lists made with it, for the payload check's rules.
// The rules only compare digests, so any function of the bytes that differs for different bytes serves.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "actions/installer_folder.h"
#include "actions/payload_check.h"

namespace test_payload {

// 32 FNV-1a runs with different seeds, one per digest byte.
inline actions::Sha256Digest FakeDigest(std::string_view bytes) {
  actions::Sha256Digest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) {
    std::uint32_t state = 2166136261u ^ static_cast<std::uint32_t>(i * 0x9E3779B9u);
    for (const char c : bytes) state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
    digest[i] = static_cast<std::uint8_t>(state >> 24);
  }
  return digest;
}

class FakeSha256 final : public actions::Sha256Source {
 public:
  bool unavailable = false;  // as on a system without the algorithm
  int runs = 0;

  std::unique_ptr<actions::Sha256Run> Start() override {
    if (unavailable) return nullptr;
    ++runs;
    return std::make_unique<Run>();
  }

 private:
  class Run final : public actions::Sha256Run {
   public:
    bool Add(std::string_view bytes) override {
      bytes_.append(bytes);
      return true;
    }
    std::optional<actions::Sha256Digest> Finish() override { return FakeDigest(bytes_); }

   private:
    std::string bytes_;
  };
};

// What a program carrying the given list (none: no list at all) hands the guard.
inline actions::CarriedList Carried(const std::optional<std::string>& list) {
  if (!list) return {};
  return {actions::CarriedList::State::Text, *list};
}

// A list in the program's format of the given files (path, contents), in the order given.
inline std::string ListOf(const std::vector<std::pair<std::string, std::string>>& files) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string list = "TARVIN PAYLOAD LIST 1\n";
  for (const auto& [path, contents] : files) {
    for (const std::uint8_t byte : FakeDigest(contents)) {
      list += kHex[byte >> 4];
      list += kHex[byte & 15];
    }
    list += ' ' + std::to_string(contents.size()) + ' ' + path + '\n';
  }
  return list;
}

// Folders by their full paths (ending in a backslash); one not given, or given as nothing, cannot be listed.
struct FakeFolders final : actions::FolderLister {
  using Tree = std::map<std::wstring, std::optional<std::vector<actions::FolderEntry>>>;
  explicit FakeFolders(Tree folders) : tree(std::move(folders)) {}
  Tree tree;
  std::optional<std::vector<actions::FolderEntry>> List(const std::wstring& path) override {
    const auto found = tree.find(path);
    return found == tree.end() ? std::nullopt : found->second;
  }
};

}  // namespace test_payload
