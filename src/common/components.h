// The database engine components that the picture button deploys and the path-check window points
// to: each one's file below the medium's base directory and its place below the Windows directory.
#pragma once

#include <string_view>

namespace common {

struct Component {
  std::wstring_view source;       // relative to the base directory
  std::wstring_view destination;  // appended to the Windows directory as it stands
};

inline constexpr Component kDaoLibrary{L"vorncopy\\Dao350.dll", L"\\system32\\Dao350.dll"};
inline constexpr Component kJetExpressionService{L"vorncopy\\msjter35.dll", L"\\system32\\msjter35.dll"};

}  // namespace common
