// What may lie beside the installer. Windows loads the DLLs a program imports from the program's own
// folder before the system's, and later loads (LoadLibrary by name) search the current directory too,
// which is the medium's folder. A genuine installer beside one planted DLL therefore runs the planted
// code, elevated if it asks for that. So before the installer starts on a medium with a payload list,
// the installer's folder and the launcher's own are looked at: code the list does not name refuses the
// start, and the listed code in the installer's folder is checked like the installer.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace actions {

// The payload's folder, relative to the base directory: the installer's own.
inline constexpr std::wstring_view kInstallerFolder = L"vorncopy";

// Files that make-medium writes beside the payload, in the launcher's folder: the list cannot name
// them (the launcher carries the list), and they are part of every medium.
inline constexpr std::wstring_view kFilesTheMediumAdds[] = {L"setup.exe", L"autorun.inf"};

// The refusal of a file that the medium does not hold. It is not the medium's damage but a stranger
// beside it, and the message says so: the file's path relative to the base directory goes between the
// two parts.
inline constexpr std::wstring_view kForeignBeforePath = L"文件 ";
inline constexpr std::wstring_view kForeignAfterPath =
    L" 不属于此安装盘，却与安装程序放在一起。它可能会随安装程序一起运行，因此安装程序没有启动。\n\n"
    L"请把安装盘的文件单独放在一个新的文件夹中，再运行 setup.exe。";
std::wstring ForeignFileMessage(std::wstring_view relativePath);

// A folder that could not be listed to its end (the folder's full path between the two parts).
inline constexpr std::wstring_view kUnlistedFolderBeforePath = L"无法查看文件夹 ";
inline constexpr std::wstring_view kUnlistedFolderAfterPath =
    L" 中的全部文件，不能确认其中只有此安装盘的文件，因此安装程序没有启动。";
std::wstring UnlistedFolderMessage(std::wstring_view folderPath);

// The installer's path cannot be held unchanged until the system has opened it: a folder on it is a
// link (a junction or a symbolic link) or cannot be held (the installer's full path between the parts).
inline constexpr std::wstring_view kUnheldPathBeforePath = L"安装程序的路径 ";
inline constexpr std::wstring_view kUnheldPathAfterPath =
    L" 中有链接（连接点或符号链接）或无法锁定的文件夹，不能确认启动的就是检查过的安装程序，"
    L"因此安装程序没有启动。\n\n请把安装盘的文件复制到本机一个普通的文件夹中，再运行 setup.exe。";
std::wstring UnheldPathMessage(std::wstring_view installerPath);

// One entry of a folder, as the system lists it.
struct FolderEntry {
  FolderEntry(std::wstring name, std::wstring shortName = {}, bool folder = false, bool reparsePoint = false)
      : name(std::move(name)), shortName(std::move(shortName)), folder(folder), reparsePoint(reparsePoint) {}
  std::wstring name;
  std::wstring shortName;  // the 8.3 alias, empty where there is none
  bool folder = false;
  bool reparsePoint = false;  // a junction, symbolic link or other link that leads elsewhere
};

class FolderLister {
 public:
  virtual ~FolderLister() = default;
  // Every entry of the folder at path (a full path ending in a backslash), without "." and ".."; empty
  // when the listing failed at any point, so that a folder never counts as clean for being unreadable.
  virtual std::optional<std::vector<FolderEntry>> List(const std::wstring& path) = 0;
};

// Whether Windows may take a file of this name as code, or as something that redirects what it loads
// as code. ASCII letters compare without case, as Windows does.
bool LoadableAsCode(std::wstring_view name);

enum class FolderFinding {
  kClean,
  kForeign,     // code that the list does not name: path is that file
  kUnreadable,  // a folder that could not be listed: path is that folder
};

struct FolderSurvey {
  FolderFinding finding = FolderFinding::kUnreadable;
  std::wstring path;  // relative to the base directory
  // The listed code under the installer's folder, the installer excepted, relative to the base directory.
  std::vector<std::wstring> listedCode;
};

// Whether the payload list names a path relative to the base directory.
using ListedQuery = std::function<bool(std::wstring_view relativePath)>;

// The launcher's folder (its own entries) and the installer's folder with everything below it. Below
// the installer's folder the loader reaches further than the folder itself: a private side-by-side
// assembly is probed in subfolders named after it, "<program>.local" redirects to a subfolder, so every
// subfolder is looked into, and one that is a link is refused since it may lead anywhere. The
// launcher's folder is reached only as the current directory, where a program looks for a name in the
// folder itself, so its subfolders are not (a USB stick's "System Volume Information" cannot be read).
// launcherName is the name the launcher runs under, which may differ from setup.exe in a copy.
FolderSurvey SurveyInstallerFolders(std::wstring_view baseDirectory, std::wstring_view launcherName,
                                    const ListedQuery& listed, FolderLister& lister);

}  // namespace actions
