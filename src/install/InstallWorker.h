#pragma once
#include <windows.h>

// Posted to the wizard when the worker has finished; the wizard's thread then
// closes the progress window and sets up the finished page.
constexpr UINT kInstallFinishedMessage = WM_APP + 1;

// The install worker thread: places the payload and reports back.
DWORD WINAPI InstallWorker(void*);
