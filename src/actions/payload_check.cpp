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

std::wstring RefusalMessage(const Refusal& refusal, std::wstring_view programName) {
  if (refusal.reason == RefusalReason::CannotHash) return std::wstring(kCannotCheckMessage);
  const bool damagedList = refusal.reason == RefusalReason::ListDamaged;
  std::wstring message(damagedList ? kDamagedListBeforeProgram : kRefusalBeforePath);
  message += damagedList ? programName : std::wstring_view(refusal.file);
  message += damagedList ? kDamagedListAfterProgram : kRefusalAfterPath;
  return message;
}

const PayloadGuard::Loaded* PayloadGuard::Load() {
  if (looked_) return loaded_ ? &*loaded_ : nullptr;
  // Nothing is decided until the lookup has come to an end: a lookup that throws leaves a damaged list,
  // never "no list", which would let every later file through unchecked.
  std::optional<Loaded> loaded;
  try {
    const CarriedList carried = loadList_();
    if (carried.state == CarriedList::State::Text) {
      loaded.emplace(Loaded{PayloadList::Parse(carried.text)});
    } else if (carried.state == CarriedList::State::Unreadable) {
      loaded.emplace();
    }
  } catch (...) {
    loaded.emplace();
  }
  loaded_ = std::move(loaded);
  looked_ = true;
  return loaded_ ? &*loaded_ : nullptr;
}

bool PayloadGuard::Checks() {
  return Load() != nullptr;
}

bool PayloadGuard::Names(std::wstring_view relativePath) {
  const Loaded* loaded = Load();
  return loaded && loaded->list && loaded->list->Find(relativePath) != nullptr;
}

// Reached only while the medium is trusted (CheckWith returns before), so the user is told once.
Verdict PayloadGuard::Refuse(RefusalReason reason, std::wstring_view relativePath) {
  untrusted_ = true;
  if (refuse_) refuse_(Refusal{reason, std::wstring(relativePath)});
  return Verdict::Refused;
}

// hash(entry) measures the file against its line; it may stop early at a file longer than listed.
template <typename Hash>
Verdict PayloadGuard::CheckWith(std::wstring_view relativePath, Hash hash) {
  const Loaded* loaded = Load();
  if (!loaded) return Verdict::Unchecked;
  if (untrusted_) return Verdict::Refused;
  if (!loaded->list) return Refuse(RefusalReason::ListDamaged, relativePath);
  const PayloadEntry* entry = loaded->list->Find(relativePath);
  if (!entry) return Refuse(RefusalReason::FileDiffers, relativePath);
  switch (hash(*entry)) {
    case Measure::Matches:
      return Verdict::Genuine;
    case Measure::CannotHash:
      return Refuse(RefusalReason::CannotHash, relativePath);
    case Measure::Differs:
      break;
  }
  return Refuse(RefusalReason::FileDiffers, relativePath);
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
