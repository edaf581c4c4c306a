#include "setup/notes_view.h"

#include "win32/edit_text.h"

namespace setup {

// Showing a control must not take the focus from the button that was just clicked: Enter right after
// the click presses that button again.
bool WindowNotesView::SetVisibleKeepingFocus(Row row, bool visible) {
  const HWND control = controls_.WindowOf(row);
  if (!::IsWindow(control)) return false;
  ::ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE);
  return true;
}

bool WindowNotesView::ShowNotesPanel() {
  return SetVisibleKeepingFocus(Row::Text2, true);
}

bool WindowNotesView::HideNotesPanel() {
  return SetVisibleKeepingFocus(Row::Text2, false);
}

bool WindowNotesView::SetNotesText(const std::wstring& text) {
  return win32::SetEditText(controls_.WindowOf(Row::Text2), text);
}

bool WindowNotesView::AppendNotesText(std::wstring_view text) {
  return win32::AppendEditText(controls_.WindowOf(Row::Text2), text);
}

bool WindowNotesView::EnableConfirm() {
  const HWND confirm = controls_.WindowOf(Row::cmdContinue);
  if (!::IsWindow(confirm)) return false;
  ::EnableWindow(confirm, TRUE);
  return true;
}

bool WindowNotesView::ShowConfirm() {
  return SetVisibleKeepingFocus(Row::cmdContinue, true);
}

bool WindowNotesView::ShowPictureButtonRead() {
  painter_.SetPictureButtonColor(kPictureButtonReadColor);
  if (const HWND button = controls_.WindowOf(Row::Command4)) ::InvalidateRect(button, nullptr, FALSE);
  return true;
}

}  // namespace setup
