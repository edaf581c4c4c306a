// The text of an EDIT control, set whole or added to at the end, for texts of any length.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win32 {

// Replaces the control's text in one message: the control lays out each text it is given from scratch.
// The control's limit, which WM_SETTEXT ignores but later typing and appending obey, is lifted for a
// longer text. False when the control is gone or refuses.
bool SetEditText(HWND edit, const std::wstring& text);

// Adds text at the end. What the reader sees stays where it was (the first visible line), and the
// caret goes back to the start, where WM_SETTEXT would leave it. False when the control is gone or
// does not hold the whole text afterwards (out of room or memory), as SetEditText reports a refusal.
bool AppendEditText(HWND edit, std::wstring_view text);

}  // namespace win32
