// What Command1 of the path-check window does, free of Windows: the path where the DAO 3.5 library is
// expected, shown afresh on every click.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace pathcheck {

// The Windows directory with the DAO library's place below it appended as it stands, the way the
// deployment builds its system paths: nothing is added or removed between them, so a failed query
// (empty) leaves the tail alone.
std::wstring DaoLibraryPath(std::wstring_view windowsDirectory);

// Command1's click: asks getWinDir afresh (no caching between clicks) and hands the path to showMessage,
// which returns once the user has closed the message.
void ClickCommand1(const std::function<std::wstring()>& getWinDir,
                   const std::function<void(const std::wstring& text)>& showMessage);

}  // namespace pathcheck
