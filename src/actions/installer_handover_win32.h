// The confirm button's hand-over on Windows: the second-stage installer started for real.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "actions/installer_handover.h"
#include "win32/unique_handle.h"

namespace actions {

// The process start and the shell on Windows. Either way the program gets the system's default error
// mode, whatever the launcher's own.
class Win32ProgramStarter final : public ProgramStarter {
 public:
  StartOutcome StartProcess(const std::wstring& applicationPath, const std::wstring& commandLine) override;
  StartOutcome OpenThroughShell(const std::wstring& applicationPath) override;
};

// A folder's entries through FindFirstFileW/FindNextFileW. A folder that does not exist has none (a
// missing installer's folder holds nothing that could load); any other failure is a failed listing.
class Win32FolderLister final : public FolderLister {
 public:
  std::optional<std::vector<FolderEntry>> List(const std::wstring& path) override;
};

// The start of a checked program: it opens the files for their checks denying writes, and starts only
// a program that it opened so, making sure that the process runs that very file. From its construction
// it holds every folder on the program's path open without delete sharing, so that none of them can be
// renamed or replaced (a junction swapped) until it is gone.
// - StartProcess starts the program suspended, compares the file its process was made from (volume
//   serial number and file index) with the held file, and lets it run only when they are the same;
//   otherwise, or where that cannot be found out, it ends the process before its first instruction
//   (kNotTheCheckedProgram).
// - OpenThroughShell cannot see the process before it runs, so it starts only where every folder on
//   the path is held and none is a link (kPathNotHeld otherwise): then the path the shell opens is the
//   one that was checked.
class Win32CheckedStarter final : public InstallerOpener, public ProgramStarter {
 public:
  explicit Win32CheckedStarter(const std::wstring& programPath);
  std::unique_ptr<HeldFile> OpenDenyingWrites(const std::wstring& path) override;
  StartOutcome StartProcess(const std::wstring& applicationPath, const std::wstring& commandLine) override;
  StartOutcome OpenThroughShell(const std::wstring& applicationPath) override;

  // The identity of a file: the volume's serial number and the file's index on it.
  struct FileIdentity {
    unsigned long volume = 0;
    unsigned long indexHigh = 0;
    unsigned long indexLow = 0;
    bool operator==(const FileIdentity&) const = default;
  };

 private:
  std::wstring program_;
  std::vector<win32::UniqueFileHandle> folders_;
  bool pathHeld_ = true;                  // every folder held, none a link
  std::optional<FileIdentity> identity_;  // the program's, once opened for its check
};

// Starts base directory & "vorncopy\tarvinxp.exe" with a normal, focused window and does not wait for
// it; a missing or unstartable installer is left at that, silently. Under the guard's payload list it is
// checked first with what lies beside it (HandOverChecked), through handles that deny writes and are
// held until it has started, and started by Win32CheckedStarter; a start refused for what lies beside it
// or for its path is told through refuse.
HandOverOutcome StartInstaller(std::wstring_view baseDirectory, PayloadGuard& guard,
                               std::wstring_view launcherName, const StartRefusal& refuse);
// The same without a payload list.
HandOverOutcome StartInstaller(std::wstring_view baseDirectory);

}  // namespace actions
