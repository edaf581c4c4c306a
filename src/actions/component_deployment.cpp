#include "actions/component_deployment.h"

#include "common/components.h"

namespace actions {

namespace {

Deployment CopyBoth(std::wstring_view baseDirectory, const std::wstring& windowsDirectory,
                    FileSystem& files) {
  if (!files
           .CopyReplacing(Join(baseDirectory, common::kDaoLibrary.source),
                          Join(windowsDirectory, common::kDaoLibrary.destination))
           .copied)
    return Deployment::FirstCopyFailed;
  if (!files
           .CopyReplacing(Join(baseDirectory, common::kJetExpressionService.source),
                          Join(windowsDirectory, common::kJetExpressionService.destination))
           .copied)
    return Deployment::SecondCopyFailed;
  return Deployment::Deployed;
}

// Each component is read once, into memory; what is checked is what is written. A component that
// cannot be read whole fails its copy as a missing one always did: the first one ends the deployment
// before the second is read, the second leaves the first in place (when the first is genuine).
Deployment CheckThenWriteBoth(std::wstring_view baseDirectory, const std::wstring& windowsDirectory,
                              FileSystem& files, PayloadGuard& guard) {
  const FileRead first = files.ReadWholeFile(Join(baseDirectory, common::kDaoLibrary.source));
  if (first.status != ReadStatus::Complete) return Deployment::FirstCopyFailed;
  const FileRead second = files.ReadWholeFile(Join(baseDirectory, common::kJetExpressionService.source));
  const bool secondRead = second.status == ReadStatus::Complete;
  // Both are checked before either is written: a tampered pair is never deployed by half.
  if (guard.Check(common::kDaoLibrary.source, first.bytes) != Verdict::Genuine) return Deployment::Refused;
  if (secondRead && guard.Check(common::kJetExpressionService.source, second.bytes) != Verdict::Genuine)
    return Deployment::Refused;
  if (!files.WriteReplacing(first, Join(windowsDirectory, common::kDaoLibrary.destination)).copied)
    return Deployment::FirstCopyFailed;
  if (!secondRead ||
      !files.WriteReplacing(second, Join(windowsDirectory, common::kJetExpressionService.destination)).copied)
    return Deployment::SecondCopyFailed;
  return Deployment::Deployed;
}

}  // namespace

// One answer of the Windows directory serves the "NT" test and both destinations: a system that
// answered differently from one question to the next cannot split the click.
Deployment DeployComponents(std::wstring_view baseDirectory, const WindowsDirectoryFunction& getWinDir,
                            FileSystem& files, PayloadGuard* guard) {
  const std::wstring windowsDirectory = getWinDir();
  if (windowsDirectory.find(kDeploymentMarker) == std::wstring::npos) return Deployment::NotWindowsNt;
  if (!guard || !guard->Checks()) return CopyBoth(baseDirectory, windowsDirectory, files);
  if (guard->Untrusted()) return Deployment::Refused;
  return CheckThenWriteBoth(baseDirectory, windowsDirectory, files, *guard);
}

}  // namespace actions
