// The temporary file a component copy writes beside its destination before it takes the destination's
// place, and the leftovers of copies that were cut off before they could remove theirs (power loss, the
// process killed), which would otherwise stay in system32 for good.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace actions {

// "<destination>.<process>-<tick>-<attempt>.tmp": distinct for copies running at the same time, and
// recognisable later as a copy's own, and whose.
std::wstring TemporaryCopyPath(const std::wstring& destination, unsigned long process, unsigned long tick,
                               unsigned long attempt);

// The process id in fileName when it is a name that TemporaryCopyPath gives for a destination named
// destinationName (both without their folder); nothing for any other name. Letters compare without
// regard to case, as Windows names do. An id too large for any process comes back as 2^32, above every
// 32-bit id.
std::optional<std::uint64_t> TemporaryCopyProcess(std::wstring_view destinationName,
                                                  std::wstring_view fileName);

// Whether fileName is a name that TemporaryCopyPath gives for a destination named destinationName.
inline bool IsTemporaryCopyName(std::wstring_view destinationName, std::wstring_view fileName) {
  return TemporaryCopyProcess(destinationName, fileName).has_value();
}

// The destination's folder and the processes whose copies may lie in it, as far as the leftovers need
// them.
class CopyFolder {
 public:
  virtual ~CopyFolder() = default;
  // The names of the files (not folders) in folder whose names begin with prefix, letters compared as
  // Windows compares them. folder is empty or ends with a backslash.
  virtual std::vector<std::wstring> FileNamesStartingWith(const std::wstring& folder,
                                                          const std::wstring& prefix) = 0;
  // A file that a copy running right now holds open is not removed; nothing is reported.
  virtual void Remove(const std::wstring& path) = 0;
  // Whether the process with this id still runs.
  virtual bool ProcessRuns(unsigned long process) = 0;
};

// Removes what earlier copies to destination left behind, and nothing else of the folder: the temporary
// files of processes that no longer run, and those of this process (ownProcess), whose copies run one at
// a time. Another launcher that still runs may be between closing its temporary file and moving it
// into the destination's place, so its files stay.
void RemoveLeftoverCopies(const std::wstring& destination, unsigned long ownProcess, CopyFolder& folder);

}  // namespace actions
