#pragma once
#include "state/InstallerState.h"

// The installer process's one state record, shared by its dialogs and threads.
extern InstallerState theInstaller;
