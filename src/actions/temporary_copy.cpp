#include "actions/temporary_copy.h"

#include <algorithm>
#include <iterator>

#include "actions/ascii_case.h"

namespace actions {
namespace {

constexpr std::wstring_view kSuffix = L".tmp";

// Decimal digits by hand: std::to_wstring would bring the C library's whole wide printf into the
// release program, a tenth of its size.
std::wstring Decimal(unsigned long value) {
  wchar_t digits[20];
  wchar_t* first = std::end(digits);
  do {
    *--first = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::wstring(first, std::end(digits));
}

// Takes one run of decimal digits off the front of text and gives its value (at most 2^32, which no
// process id reaches); nothing when there is no digit.
std::optional<std::uint64_t> TakeNumber(std::wstring_view& text) {
  constexpr std::uint64_t kPastEveryId = std::uint64_t{1} << 32;
  std::size_t digits = 0;
  std::uint64_t value = 0;
  for (; digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9'; ++digits) {
    value = std::min(kPastEveryId, value * 10 + static_cast<std::uint64_t>(text[digits] - L'0'));
  }
  text.remove_prefix(digits);
  if (digits == 0) return std::nullopt;
  return value;
}

bool TakeUnit(std::wstring_view& text, wchar_t unit) {
  if (text.empty() || text.front() != unit) return false;
  text.remove_prefix(1);
  return true;
}

}  // namespace

std::wstring TemporaryCopyPath(const std::wstring& destination, unsigned long process, unsigned long tick,
                               unsigned long attempt) {
  return destination + L"." + Decimal(process) + L"-" + Decimal(tick) + L"-" + Decimal(attempt) +
         std::wstring(kSuffix);
}

std::optional<std::uint64_t> TemporaryCopyProcess(std::wstring_view destinationName,
                                                  std::wstring_view fileName) {
  if (destinationName.empty() || !StartsWithIgnoringAsciiCase(fileName, destinationName)) return std::nullopt;
  std::wstring_view rest = fileName.substr(destinationName.size());
  if (rest.size() < kSuffix.size() ||
      !StartsWithIgnoringAsciiCase(rest.substr(rest.size() - kSuffix.size()), kSuffix))
    return std::nullopt;
  rest.remove_suffix(kSuffix.size());
  if (!TakeUnit(rest, L'.')) return std::nullopt;
  const std::optional<std::uint64_t> process = TakeNumber(rest);
  if (process && TakeUnit(rest, L'-') && TakeNumber(rest) && TakeUnit(rest, L'-') && TakeNumber(rest) &&
      rest.empty())
    return process;
  return std::nullopt;
}

void RemoveLeftoverCopies(const std::wstring& destination, unsigned long ownProcess, CopyFolder& folder) {
  const std::size_t slash = destination.find_last_of(L'\\');
  const std::wstring folderPath =
      slash == std::wstring::npos ? std::wstring() : destination.substr(0, slash + 1);
  const std::wstring name = destination.substr(folderPath.size());
  for (const std::wstring& candidate : folder.FileNamesStartingWith(folderPath, name + L".")) {
    const std::optional<std::uint64_t> process = TemporaryCopyProcess(name, candidate);
    if (!process) continue;
    const bool left = *process == ownProcess || *process > 0xFFFFFFFFu ||
                      !folder.ProcessRuns(static_cast<unsigned long>(*process));
    if (left) folder.Remove(folderPath + candidate);
  }
}

}  // namespace actions
