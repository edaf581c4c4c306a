// The hand-over to the second-stage installer: the paths the confirm button hands to the process start,
// and the choice between an ordinary start and the shell's. Portable, so that the exact strings are
// tested without Windows.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "actions/installer_folder.h"
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
  // The program that the system opened is not the file that was checked (its path led elsewhere by
  // then), or that could not be made sure of: the new process was ended before it ran.
  kNotTheCheckedProgram,
  // The shell's start was not tried: a folder on the program's path is a link or could not be held, so
  // the path could lead elsewhere by the time the shell opens it.
  kPathNotHeld,
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
  SystemError error = kNoError;             // why the last start that was tried failed
  StartResult last = StartResult::kFailed;  // how the last start that was tried ended
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

// Tells the user why the installer was not started, in the message given (the guard tells of files that
// failed their check itself).
using StartRefusal = std::function<void(const std::wstring& message)>;

// What the hand-over under a list looks at beside the installer.
struct InstallerSurroundings {
  std::wstring_view launcherName;  // the launcher's own file name in its folder
  FolderLister& lister;
  StartRefusal refuse;
};

// The hand-over under the payload check. Without a list, exactly HandOverToInstaller. With one, the
// installer's folder and the launcher's are surveyed first (SurveyInstallerFolders): foreign code or a
// folder that cannot be listed refuses the start. Then the listed code in the installer's folder and the
// installer are opened denying writes, checked through those handles and started (either way) while
// they are held, so that what starts, and what it loads from its folder, is what was checked; the
// starter makes sure that the process runs the held installer (kNotTheCheckedProgram otherwise). An
// installer that cannot be opened is not started, as a missing one never was; a file that fails its
// check is not started either, and the guard tells the user.
HandOverOutcome HandOverChecked(std::wstring_view baseDirectory, PayloadGuard& guard, InstallerOpener& opener,
                                ProgramStarter& starter, const InstallerSurroundings& surroundings);

}  // namespace actions
