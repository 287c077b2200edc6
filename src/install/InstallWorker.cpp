#include "install/InstallWorker.h"

#include "state/TheInstaller.h"

// Until files are placed, the worker only hands over to the finished page.
DWORD WINAPI InstallWorker(void*) {
    // With a separate progress window, wait until it is there to be closed.
    if (theInstaller.separateProgressWindow) {
        while (theInstaller.progressDialog.load() == nullptr) Sleep(50);
    }
    PostMessageA(static_cast<HWND>(theInstaller.wizardWindow), kInstallFinishedMessage, 0, 0);
    return 0;
}
