#pragma once
// The run's workspace: a new folder of its own under the user's temporary
// folder, made once at start (see CreatePrivateFolder), holding the archive
// copy and, below it, the extracted control folder.

#include <string>

#include "archive/PackageFormat.h"
#include "platform/Platform.h"

// What every workspace's name begins with; the rest is random.
constexpr char kWorkspacePrefix[] = "kxsetup-";

// Makes the run's workspace; false when none could be made (the temporary
// folder cannot be written). Called once, before the loader starts.
bool CreateWorkspace();
// The workspace folder, without a trailing separator; empty before
// CreateWorkspace. Tests name one of their own with UseWorkspace.
const std::string& WorkspacePath();
void UseWorkspace(const std::string& folder);

// Where the control items are extracted: the workspace with its separator.
inline std::string WorkspaceBase() { return WorkspacePath() + "\\"; }

// The archive copied out of the installer file.
inline std::string ArchiveCopyPath() { return WorkspacePath() + "\\tempfile.tmp"; }

// Control file name as extracted into the workspace.
inline std::string ControlFilePath(const std::string& name) {
    return WorkspaceBase() + package::kControlFolder + "\\" + name;
}

// The archive copy's own handle (see platform::CreateHeldFile), kept from
// its completion until RemoveWorkspace, so the copy cannot change under
// the installer. A second call closes the first handle.
void KeepArchiveCopy(platform::FileHandle copy);
// Closes that handle, which deletes the copy.
void ReleaseArchiveCopy();

// Releases the archive copy and removes the workspace with everything in
// it. A workspace that stays behind is harmless, so failure is not told.
void RemoveWorkspace();
