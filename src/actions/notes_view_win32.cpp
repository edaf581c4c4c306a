#include "actions/notes_view_win32.h"

#include "actions/panel_slices.h"

namespace actions {

namespace {

// Showing a control must not take the focus from the button that was just clicked: Enter right after
// the click presses that button again.
bool SetVisible(HWND window, bool visible) {
  if (!::IsWindow(window)) return false;
  ::ShowWindow(window, visible ? SW_SHOWNA : SW_HIDE);
  return true;
}

}  // namespace

bool Win32NotesView::SetPanelVisible(bool visible) {
  return SetVisible(panel_, visible);
}

bool Win32NotesView::SetPanelText(const std::wstring& text) {
  if (!::IsWindow(panel_)) return false;
  // WM_SETTEXT is not bound by the control's limit, but the limit still governs the control later on.
  const auto limit = static_cast<std::size_t>(::SendMessageW(panel_, EM_GETLIMITTEXT, 0, 0));
  if (text.size() > limit) ::SendMessageW(panel_, EM_SETLIMITTEXT, 0, 0);
  // One message for the whole text: the control lays out each text it is given from scratch. Only a
  // text with long lines goes in slices, which that layout would otherwise make wait for minutes.
  if (NeedsSlicing(text)) return AppendInSlices(text);
  return ::SendMessageW(panel_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != FALSE;
}

bool Win32NotesView::AppendInSlices(const std::wstring& text) {
  if (!::SendMessageW(panel_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""))) return false;
  std::wstring piece;
  for (const std::wstring_view slice : PanelSlices(text)) {
    piece.assign(slice);
    const LRESULT end = ::SendMessageW(panel_, WM_GETTEXTLENGTH, 0, 0);
    // Appending scrolls to the new end; the view stays where it was, at first the text's beginning.
    const LRESULT firstVisibleLine = ::SendMessageW(panel_, EM_GETFIRSTVISIBLELINE, 0, 0);
    ::SendMessageW(panel_, EM_SETSEL, static_cast<WPARAM>(end), end);
    ::SendMessageW(panel_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
    const LRESULT scrolledBy = ::SendMessageW(panel_, EM_GETFIRSTVISIBLELINE, 0, 0) - firstVisibleLine;
    if (scrolledBy != 0) ::SendMessageW(panel_, EM_LINESCROLL, 0, -scrolledBy);
    if (pumpMessages_) pumpMessages_();
    if (!::IsWindow(panel_)) return false;
  }
  // Where WM_SETTEXT leaves the control: the caret at the start and the text's beginning in view.
  ::SendMessageW(panel_, EM_SETSEL, 0, 0);
  ::SendMessageW(panel_, EM_SCROLLCARET, 0, 0);
  return true;
}

bool Win32NotesView::SetContinueEnabled(bool enabled) {
  if (!::IsWindow(continueButton_)) return false;
  ::EnableWindow(continueButton_, enabled ? TRUE : FALSE);
  return true;
}

bool Win32NotesView::SetContinueVisible(bool visible) {
  return SetVisible(continueButton_, visible);
}

bool Win32NotesView::ShowPictureButtonRead() {
  if (!showPictureButtonRead_) return false;
  showPictureButtonRead_();
  return true;
}

}  // namespace actions
