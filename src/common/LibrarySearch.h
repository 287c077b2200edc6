#pragma once
// How the installer and the uninstaller load libraries: from the system
// folder only, never from the folder they were started from (a Downloads
// folder may hold planted DLLs). Windows only.

#include <windows.h>

// Call first thing, before any library is loaded on demand.
void RestrictLibrarySearch();
// Loads a library of the system folder by its full path; null on failure.
HMODULE LoadSystemLibrary(const wchar_t* name);
