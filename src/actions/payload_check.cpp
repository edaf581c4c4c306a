#include "actions/payload_check.h"

#include <string>

namespace actions {

namespace {

constexpr std::size_t kHeldFileChunkBytes = 64 * 1024;

// What the hashing of a file came to: its size and digest, or nothing when it could not be read or
// hashed whole.
struct Measured {
  std::uint64_t size = 0;
  Sha256Digest sha256{};
};

}  // namespace

std::wstring RefusalMessage(const Refusal& refusal, std::wstring_view programName) {
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

Verdict PayloadGuard::Refuse(RefusalReason reason, std::wstring_view relativePath) {
  if (untrusted_) return Verdict::Refused;
  untrusted_ = true;
  if (refuse_) refuse_(Refusal{reason, std::wstring(relativePath)});
  return Verdict::Refused;
}

// hash(entry) gives the file's measure, or nothing; it may stop early at a file longer than listed.
template <typename Hash>
Verdict PayloadGuard::CheckWith(std::wstring_view relativePath, Hash hash) {
  const Loaded* loaded = Load();
  if (!loaded) return Verdict::Unchecked;
  if (untrusted_) return Verdict::Refused;
  if (!loaded->list) return Refuse(RefusalReason::ListDamaged, relativePath);
  const PayloadEntry* entry = loaded->list->Find(relativePath);
  if (!entry) return Refuse(RefusalReason::FileDiffers, relativePath);
  const std::optional<Measured> measured = hash(*entry);
  if (!measured || measured->size != entry->size || measured->sha256 != entry->sha256)
    return Refuse(RefusalReason::FileDiffers, relativePath);
  return Verdict::Genuine;
}

Verdict PayloadGuard::Check(std::wstring_view relativePath, std::string_view bytes) {
  return CheckWith(relativePath, [&](const PayloadEntry& entry) -> std::optional<Measured> {
    if (bytes.size() != entry.size) return std::nullopt;
    const std::unique_ptr<Sha256Run> run = hashes_.Start();
    if (!run || !run->Add(bytes)) return std::nullopt;
    const std::optional<Sha256Digest> digest = run->Finish();
    if (!digest) return std::nullopt;
    return Measured{bytes.size(), *digest};
  });
}

Verdict PayloadGuard::Check(std::wstring_view relativePath, HeldFile& file) {
  return CheckWith(relativePath, [&](const PayloadEntry& entry) -> std::optional<Measured> {
    const std::unique_ptr<Sha256Run> run = hashes_.Start();
    if (!run) return std::nullopt;
    std::string buffer(kHeldFileChunkBytes, '\0');
    Measured measured;
    for (;;) {
      const std::optional<std::size_t> got = file.Read(buffer);
      if (!got) return std::nullopt;
      if (*got == 0) break;
      measured.size += *got;
      // A file longer than listed is refused without reading the rest of it.
      if (measured.size > entry.size) return std::nullopt;
      if (!run->Add(std::string_view(buffer).substr(0, *got))) return std::nullopt;
    }
    const std::optional<Sha256Digest> digest = run->Finish();
    if (!digest) return std::nullopt;
    measured.sha256 = *digest;
    return measured;
  });
}

}  // namespace actions
