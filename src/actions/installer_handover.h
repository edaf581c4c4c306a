// The hand-over to the second-stage installer: the paths the confirm button hands to the process start,
// and the choice between an ordinary start and the shell's. Portable, so that the exact strings are
// tested without Windows.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "actions/payload_check.h"
#include "actions/system_error.h"

namespace actions {

// The second-stage installer, relative to the base directory.
inline constexpr std::wstring_view kInstallerRelativePath = L"vorncopy\\tarvinxp.exe";

// Base directory & "vorncopy\tarvinxp.exe": the base directory already ends in its separator (or is a
// short path used as it is), so nothing is inserted between the two.
std::wstring InstallerPath(std::wstring_view baseDirectory);

// The installer's command line: its own path in quotes and no arguments, so that a path with blanks is
// one argument to the installer as well.
std::wstring InstallerCommandLine(std::wstring_view installerPath);

// How an attempt to start a program ended.
enum class StartResult {
  kStarted,
  // The program asks for elevation, which an ordinary process start cannot give it.
  kElevationRequired,
  kFailed,
};

struct StartOutcome {
  StartResult result = StartResult::kFailed;
  SystemError error = kNoError;  // why the start failed (or asked for elevation)
};

// Starts programs without waiting for them, with a normal, focused window, in the current directory.
class ProgramStarter {
 public:
  virtual ~ProgramStarter() = default;
  // An ordinary process start: the program at applicationPath, given commandLine.
  virtual StartOutcome StartProcess(const std::wstring& applicationPath, const std::wstring& commandLine) = 0;
  // The shell's open verb on the program, which lets Windows ask the user for elevation: kStarted or
  // kFailed.
  virtual StartOutcome OpenThroughShell(const std::wstring& applicationPath) = 0;
};

enum class HandOver {
  kStarted,
  kStartedThroughShell,
  kNotStarted,
};

struct HandOverOutcome {
  HandOver how = HandOver::kNotStarted;
  SystemError error = kNoError;  // why the last start that was tried failed
};

// Starts base directory & "vorncopy\tarvinxp.exe" with no arguments. Only an installer that needs
// elevation is handed to the shell; every other failure is left as it is, and the caller stays silent.
HandOverOutcome HandOverToInstaller(std::wstring_view baseDirectory, ProgramStarter& starter);

// Opens the installer for the check so that nobody can write to it while the handle is held.
class InstallerOpener {
 public:
  virtual ~InstallerOpener() = default;
  // Null when it cannot be opened so (missing, say).
  virtual std::unique_ptr<HeldFile> OpenDenyingWrites(const std::wstring& path) = 0;
};

// The hand-over under the payload check. Without a list, exactly HandOverToInstaller. With one, the
// installer is opened denying writes, checked through that handle and started (either way) while the
// handle is held, so that what starts is what was checked. One that cannot be opened is not started, as
// a missing one never was; one that fails its check is not started either, and the guard tells the user.
HandOverOutcome HandOverChecked(std::wstring_view baseDirectory, PayloadGuard& guard, InstallerOpener& opener,
                                ProgramStarter& starter);

}  // namespace actions
