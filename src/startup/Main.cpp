#include <windows.h>

#include "platform/Platform.h"
#include "startup/ControlFiles.h"
#include "startup/PackageLoader.h"
#include "startup/RemoveFolderTree.h"
#include "state/InstallerState.h"
#include "state/Workspace.h"

namespace {

InstallerState installerState;

}  // namespace

// Until the wizard exists the stub loads the package without a window and
// removes its workspace again.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string installer = platform::GetModuleFilePath();
    if (CopyArchiveOut(installerState, installer, ArchiveCopyPath(), CopyProgress())) {
        if (ExtractControlFolder(installerState, ArchiveCopyPath(), platform::GetTempFolder())) {
            (void)LoadControlFiles(installerState, platform::GetTempFolder());
        }
    }
    (void)RemoveFolderTree(WorkspacePath());  // a workspace that stays is harmless
    return 0;
}
