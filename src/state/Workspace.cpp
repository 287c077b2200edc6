#include "state/Workspace.h"

#include "common/PrivateFolder.h"
#include "common/RemoveFolderTree.h"

namespace {

// Process-wide, like the temporary folder it lies in: set once on the main
// thread before any other thread starts.
std::string workspaceFolder;
platform::UniqueFile archiveCopy;

}  // namespace

bool CreateWorkspace() {
    workspaceFolder = CreatePrivateFolder(platform::GetTempFolder(), kWorkspacePrefix);
    return !workspaceFolder.empty();
}

const std::string& WorkspacePath() { return workspaceFolder; }

void UseWorkspace(const std::string& folder) { workspaceFolder = folder; }

void KeepArchiveCopy(platform::FileHandle copy) { archiveCopy.Reset(copy); }

void ReleaseArchiveCopy() { archiveCopy.Reset(); }

void RemoveWorkspace() {
    ReleaseArchiveCopy();
    if (!workspaceFolder.empty()) (void)RemoveFolderTree(workspaceFolder);
}
