#include "actions/notes_read.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>

#include "actions/notes_toggle.h"

namespace actions {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

// Thrown through the guard's check when the disc fails a read: the check is abandoned, not failed.
struct ReadFailed {};

// The file as the guard and the drain below see it, keeping the first bound bytes of what passes.
class HeadKeeper final : public HeldFile {
 public:
  HeadKeeper(HeldFile& file, std::size_t bound) : file_(file), bound_(bound) {}

  std::optional<std::size_t> Read(std::span<char> buffer) override {
    const std::optional<std::size_t> got = file_.Read(buffer);
    if (!got) throw ReadFailed{};
    const std::size_t room = bound_ - head_.size();
    const std::size_t kept = std::min(*got, room);
    if (*got > room) beyond_ = true;
    // Grows by doubling as a string does, but never past the bound: a file far beyond it costs the bound.
    if (head_.capacity() < head_.size() + kept)
      head_.reserve(std::min(bound_, std::max(head_.size() + kept, 2 * head_.capacity())));
    head_.append(buffer.data(), kept);
    return got;
  }

  bool Beyond() const { return beyond_; }
  std::string TakeHead() { return std::move(head_); }

 private:
  HeldFile& file_;
  const std::size_t bound_;
  std::string head_;
  bool beyond_ = false;
};

}  // namespace

NotesReading ReadNotes(FileSystem& files, const std::wstring& path, std::size_t bound, PayloadGuard* guard) {
  const std::unique_ptr<HeldFile> file = files.OpenForReading(path);
  if (!file) return {};
  HeadKeeper keeper(*file, bound);
  try {
    // The guard reads a genuine file to its end; what it leaves unread (nothing to check) is read here.
    if (guard && guard->Check(kNotesFileName, keeper) == Verdict::Refused)
      return {NotesReading::End::Refused, {}};
    std::string buffer(kChunkBytes, '\0');
    while (!keeper.Beyond() && *keeper.Read(buffer) != 0) {
    }
  } catch (const ReadFailed&) {
    return {NotesReading::End::CutShort, keeper.TakeHead()};
  }
  const NotesReading::End end = keeper.Beyond() ? NotesReading::End::BeyondBound : NotesReading::End::Whole;
  return {end, keeper.TakeHead()};
}

}  // namespace actions
