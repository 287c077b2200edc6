#pragma once
// The shell's side of the installation, shared by the wizard's worker and
// the silent run. COM must be initialised on the calling thread.

#include <string>

// Saves a shortcut to target; false when it could not be saved.
bool SaveShellLink(const std::string& target, const std::string& workingFolder, const std::string& linkPath);
// Tells the shell about a folder it should show (a new start-menu group).
void NotifyShellOfFolder(const std::string& folder);
