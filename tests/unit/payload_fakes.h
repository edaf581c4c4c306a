// A stand-in for the platform's digests and payload lists made with them, for the payload check's rules.
// The rules only compare digests, so any function of the bytes that differs for different bytes serves;
// each kind has its own, so that a digest compared with the other kind's line never matches.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "actions/installer_folder.h"
#include "actions/payload_check.h"

namespace test_payload {

// FNV-1a runs with different seeds, one per digest byte; the kind seeds them too.
inline actions::Sha256Digest FakeDigest(std::string_view bytes,
                                        actions::DigestKind kind = actions::DigestKind::Sha256) {
  actions::Sha256Digest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) {
    std::uint32_t state = 2166136261u ^ static_cast<std::uint32_t>(i * 0x9E3779B9u) ^
                          (kind == actions::DigestKind::Sha1 ? 0x5A5A5A5Au : 0u);
    for (const char c : bytes) state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
    digest[i] = static_cast<std::uint8_t>(state >> 24);
  }
  return digest;
}

class FakeDigests final : public actions::DigestSource {
 public:
  bool unavailable = false;  // as on a system with neither algorithm
  bool addFails = false;     // the platform fails to take bytes into the digest
  bool finishFails = false;  // the platform fails the digest once it has everything
  actions::DigestKind kind = actions::DigestKind::Sha256;
  int runs = 0;

  std::unique_ptr<actions::DigestRun> Start() override {
    if (unavailable) return nullptr;
    ++runs;
    return std::make_unique<Run>(kind, addFails, finishFails);
  }

 private:
  class Run final : public actions::DigestRun {
   public:
    Run(actions::DigestKind kind, bool addFails, bool finishFails)
        : kind_(kind), addFails_(addFails), finishFails_(finishFails) {}
    actions::DigestKind Kind() const override { return kind_; }
    bool Add(std::string_view bytes) override {
      bytes_.append(bytes);
      return !addFails_;
    }
    bool Finish(std::span<std::uint8_t> digest) override {
      const actions::Sha256Digest whole = FakeDigest(bytes_, kind_);
      std::copy_n(whole.begin(), digest.size(), digest.begin());
      return !finishFails_;
    }

   private:
    actions::DigestKind kind_;
    bool addFails_;
    bool finishFails_;
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
  std::string list = std::string(actions::kPayloadListHeader) + "\n";
  const auto hex = [&list](std::span<const std::uint8_t> digest) {
    for (const std::uint8_t byte : digest) {
      list += kHex[byte >> 4];
      list += kHex[byte & 15];
    }
    list += ' ';
  };
  for (const auto& [path, contents] : files) {
    hex(FakeDigest(contents));
    const actions::Sha256Digest sha1 = FakeDigest(contents, actions::DigestKind::Sha1);
    hex(std::span(sha1).first(actions::Sha1Digest{}.size()));
    list += std::to_string(contents.size()) + ' ' + path + '\n';
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
