#pragma once
// Identifiers of the uninstaller's icon, dialog and controls, shared by its
// resource script and its code.

#define IDI_UNINSTALL 104
#define IDD_REMOVAL 110

#define IDC_REMOVAL_PATH 1020
#define IDC_REMOVAL_PROGRESS 1021
