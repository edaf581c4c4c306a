// The temporary file a component copy writes beside its destination before it takes the destination's
// place, and the leftovers of copies that were cut off before they could remove theirs (power loss, the
// process killed), which would otherwise stay in system32 for good.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace actions {

// "<destination>.<process>-<tick>-<attempt>.tmp": distinct for copies running at the same time, and
// recognisable later as a copy's own.
std::wstring TemporaryCopyPath(const std::wstring& destination, unsigned long process, unsigned long tick,
                               unsigned long attempt);

// Whether fileName is a name that TemporaryCopyPath gives for a destination named destinationName (both
// without their folder). Letters compare without regard to case, as Windows names do.
bool IsTemporaryCopyName(std::wstring_view destinationName, std::wstring_view fileName);

// The destination's folder, as far as the leftovers need it.
class CopyFolder {
 public:
  virtual ~CopyFolder() = default;
  // The names of the files (not folders) in folder whose names begin with prefix, letters compared as
  // Windows compares them. folder is empty or ends with a backslash.
  virtual std::vector<std::wstring> FileNamesStartingWith(const std::wstring& folder,
                                                          const std::wstring& prefix) = 0;
  // A file that a copy running right now holds open is not removed; nothing is reported.
  virtual void Remove(const std::wstring& path) = 0;
};

// Removes what earlier copies to destination left behind, and nothing else of the folder.
void RemoveLeftoverCopies(const std::wstring& destination, CopyFolder& folder);

}  // namespace actions
