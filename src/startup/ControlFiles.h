#pragma once
#include <string>

#include "state/InstallerState.h"

// Reads the control files in the workspace under workspaceBase (which ends
// with a separator), in their fixed order: the package font, macros, the texts,
// the default folder, the shortcut locations, the progress settings and the
// full-screen settings. Missing files leave their fields as they are.
// Without fullscreen.txt it sets loadingComplete and returns false; with it,
// it returns true and the caller shows the background window, whose opening
// completes the loading. Runs on the loader thread.
bool LoadControlFiles(InstallerState& state, const std::string& workspaceBase);

// A COLORREF from three numbers, each reduced to its low 8 bits.
Colour ColourFromNumbers(int32_t red, int32_t green, int32_t blue);
