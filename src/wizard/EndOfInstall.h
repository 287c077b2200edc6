#pragma once
#include <string>

#include "state/InstallerState.h"

// Reads eoi_file.txt (expanded with the install folder), eoi_message.txt and
// eoi_buttons.txt (expanded without) from the workspace into eoiTarget,
// eoiMessage and eoiAskYesNo. Each text keeps at most 2,047 characters.
// Called once, when the finished page is set up.
void LoadEndOfInstallSettings(InstallerState& state, const std::string& installFolder);
