#include "actions/component_deployment.h"

#include "common/components.h"

namespace actions {

// One answer of the Windows directory serves the "NT" test and both destinations: a system that
// answered differently from one question to the next cannot split the click.
Deployment DeployComponents(std::wstring_view baseDirectory, const WindowsDirectoryFunction& getWinDir,
                            FileSystem& files) {
  const std::wstring windowsDirectory = getWinDir();
  if (windowsDirectory.find(kDeploymentMarker) == std::wstring::npos) return Deployment::NotWindowsNt;

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

}  // namespace actions
