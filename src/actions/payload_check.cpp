#include "actions/payload_check.h"

#include <algorithm>
#include <string>

namespace actions {

namespace {

constexpr std::size_t kHeldFileChunkBytes = 64 * 1024;

// What the hashing of a file came to.
enum class Measure { Matches, Differs, CannotHash };

// Finishes a run over the whole file and compares it with the line's digest of the same kind.
Measure Compare(DigestRun& run, const PayloadEntry& entry) {
  const std::span<const std::uint8_t> listed =
      run.Kind() == DigestKind::Sha256 ? std::span<const std::uint8_t>(entry.sha256) : std::span(entry.sha1);
  Sha256Digest digest{};
  const std::span<std::uint8_t> got = std::span(digest).first(listed.size());
  if (!run.Finish(got)) return Measure::CannotHash;
  return std::equal(got.begin(), got.end(), listed.begin()) ? Measure::Matches : Measure::Differs;
}

}  // namespace

std::wstring RefusalMessage(std::wstring_view relativePath, RefusalCause cause) {
  if (cause == RefusalCause::CannotHash) return std::wstring(kCannotCheckMessage);
  std::wstring message(kRefusalBeforePath);
  message += relativePath;
  message += kRefusalAfterPath;
  return message;
}

const PayloadGuard::Loaded* PayloadGuard::Load() {
  if (!looked_) {
    looked_ = true;
    if (std::optional<std::string> text = loadList_()) loaded_.emplace(Loaded{PayloadList::Parse(*text)});
  }
  return loaded_ ? &*loaded_ : nullptr;
}

bool PayloadGuard::Checks() {
  return Load() != nullptr;
}

Verdict PayloadGuard::Refuse(std::wstring_view relativePath, RefusalCause cause) {
  if (untrusted_) return Verdict::Refused;
  untrusted_ = true;
  if (refuse_) refuse_(relativePath, cause);
  return Verdict::Refused;
}

// hash(entry) measures the file against its line; it may stop early at a file longer than listed.
template <typename Hash>
Verdict PayloadGuard::CheckWith(std::wstring_view relativePath, Hash hash) {
  const Loaded* loaded = Load();
  if (!loaded) return Verdict::Unchecked;
  if (untrusted_) return Verdict::Refused;
  const PayloadEntry* entry = loaded->list ? loaded->list->Find(relativePath) : nullptr;
  if (!entry) return Refuse(relativePath);
  switch (hash(*entry)) {
    case Measure::Matches:
      return Verdict::Genuine;
    case Measure::CannotHash:
      return Refuse(relativePath, RefusalCause::CannotHash);
    case Measure::Differs:
      break;
  }
  return Refuse(relativePath);
}

Verdict PayloadGuard::Check(std::wstring_view relativePath, std::string_view bytes) {
  return CheckWith(relativePath, [&](const PayloadEntry& entry) {
    if (bytes.size() != entry.size) return Measure::Differs;
    const std::unique_ptr<DigestRun> run = hashes_.Start();
    if (!run || !run->Add(bytes)) return Measure::CannotHash;
    return Compare(*run, entry);
  });
}

Verdict PayloadGuard::Check(std::wstring_view relativePath, HeldFile& file) {
  return CheckWith(relativePath, [&](const PayloadEntry& entry) {
    const std::unique_ptr<DigestRun> run = hashes_.Start();
    if (!run) return Measure::CannotHash;
    std::string buffer(kHeldFileChunkBytes, '\0');
    std::uint64_t size = 0;
    for (;;) {
      const std::optional<std::size_t> got = file.Read(buffer);
      if (!got) return Measure::Differs;
      if (*got == 0) break;
      size += *got;
      // A file longer than listed is refused without reading the rest of it.
      if (size > entry.size) return Measure::Differs;
      if (!run->Add(std::string_view(buffer).substr(0, *got))) return Measure::CannotHash;
    }
    if (size != entry.size) return Measure::Differs;
    return Compare(*run, entry);
  });
}

}  // namespace actions
