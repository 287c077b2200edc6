#pragma once
// Paths of the workspace in the user's temporary folder. Each is built afresh
// from the temporary folder, so every user sees the same place.

#include <string>

#include "archive/PackageFormat.h"
#include "platform/Platform.h"

// T + "%KXInstall%": the workspace folder.
inline std::string WorkspacePath() { return platform::GetTempFolder() + package::kControlFolder; }

// The archive copied out of the installer file.
inline std::string ArchiveCopyPath() { return WorkspacePath() + "\\tempfile.tmp"; }

// Control file name as extracted into the workspace.
inline std::string ControlFilePath(const std::string& name) { return WorkspacePath() + "\\" + name; }
