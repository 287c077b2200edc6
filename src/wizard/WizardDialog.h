#pragma once
#include <windows.h>

// Runs the wizard (dialog 101) modally on the main thread until it ends.
void RunWizardDialog();

// Asks the cancel question owned by the given dialog (the wizard, or the
// separate progress window) and raises the worker's flags.
void ConfirmCancel(HWND owner);
