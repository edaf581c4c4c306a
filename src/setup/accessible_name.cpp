#include "setup/accessible_name.h"

#include <string_view>

namespace setup {
namespace {

// A label's or tool tip's words without what surrounds them on screen: blanks, the ASCII quotation
// marks of the tool tip, the colon after a heading.
std::wstring_view Words(std::wstring_view text) {
  constexpr std::wstring_view kAround = L" \"";
  constexpr std::wstring_view kAfter = L" \":：";
  const std::size_t first = text.find_first_not_of(kAround);
  if (first == std::wstring_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kAfter);
  return text.substr(first, last + 1 - first);
}

// The directory list lies outside the visible area and has no label; it lists folders.
constexpr std::wstring_view kDirectoryListName = L"文件夹";

}  // namespace

bool NamedByWindowText(ControlKind kind) {
  return kind != ControlKind::TextBox;
}

bool NamedByLabelBefore(ControlKind kind) {
  return kind == ControlKind::TextBox || kind == ControlKind::ListBox || kind == ControlKind::DirListBox;
}

std::wstring AccessibleName(const ControlRow& row) {
  switch (row.row) {
    case Row::Command4:
      return std::wstring(Words(row.toolTip));
    case Row::Text2:  // it covers the notes block, whose heading names what it shows
      return std::wstring(Words(ControlAt(Row::Label12).text));
    case Row::Picture1:
      return std::wstring(Words(ControlAt(Row::Label2).text));
    case Row::dir95Groups:
      return std::wstring(kDirectoryListName);
    default:
      break;
  }
  if (row.kind == ControlKind::CommandButton) return std::wstring(row.text);
  return {};
}

std::wstring WindowTextOf(const ControlRow& row) {
  if (!row.text.empty() || !NamedByWindowText(row.kind)) return std::wstring(row.text);
  return AccessibleName(row);
}

}  // namespace setup
