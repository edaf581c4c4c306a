// The deployment of the database engine components: after each picture button click that gets this
// far, Dao350.dll and msjter35.dll are copied from the medium into system32 of a Windows directory whose
// path holds "NT".
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "actions/file_system.h"
#include "actions/payload_check.h"

namespace actions {

// Only a Windows directory with these capital letters in its path, as C:\WINNT has, gets the components.
inline constexpr std::wstring_view kDeploymentMarker = L"NT";

// GetWinDir: asked once in each click that deploys, so that the "NT" test and both destinations rest
// on the same answer.
using WindowsDirectoryFunction = std::function<std::wstring()>;

enum class Deployment {
  NotWindowsNt,      // no "NT" in the Windows directory: nothing copied
  FirstCopyFailed,   // the second copy was not attempted
  SecondCopyFailed,  // the first copy stays in place
  Refused,           // a component failed its check, or an earlier file did: nothing copied
  Deployed,
};

// Asks for the Windows directory once, and copies both components from baseDirectory's vorncopy folder
// when its path holds "NT". With a payload guard that checks, both are read whole and checked first and
// exactly the bytes checked are written, or none at all when either fails; without one (or without a
// list) they are copied file to file.
Deployment DeployComponents(std::wstring_view baseDirectory, const WindowsDirectoryFunction& getWinDir,
                            FileSystem& files, PayloadGuard* guard = nullptr);

}  // namespace actions
