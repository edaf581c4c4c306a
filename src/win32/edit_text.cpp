#include "win32/edit_text.h"

namespace win32 {
namespace {

void LiftLimitFor(HWND edit, std::size_t length) {
  const auto limit = static_cast<std::size_t>(::SendMessageW(edit, EM_GETLIMITTEXT, 0, 0));
  if (length > limit) ::SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
}

}  // namespace

bool SetEditText(HWND edit, const std::wstring& text) {
  if (!::IsWindow(edit)) return false;
  LiftLimitFor(edit, text.size());
  return ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != FALSE;
}

bool AppendEditText(HWND edit, std::wstring_view text) {
  if (!::IsWindow(edit)) return false;
  const std::wstring piece(text);
  const auto end = static_cast<std::size_t>(::SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
  LiftLimitFor(edit, end + piece.size());
  // Appending scrolls to the new end; the view goes back to where it was.
  const LRESULT firstVisibleLine = ::SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
  ::SendMessageW(edit, EM_SETSEL, end, static_cast<LPARAM>(end));
  ::SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
  // EM_REPLACESEL answers nothing: a control out of room or memory drops the piece, or part of it,
  // silently. Only what it holds afterwards tells.
  const bool taken =
      static_cast<std::size_t>(::SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0)) == end + piece.size();
  const LRESULT scrolledBy = ::SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0) - firstVisibleLine;
  if (scrolledBy != 0) ::SendMessageW(edit, EM_LINESCROLL, 0, -scrolledBy);
  ::SendMessageW(edit, EM_SETSEL, 0, 0);
  return taken;
}

}  // namespace win32
