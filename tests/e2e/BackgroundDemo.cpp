// kx_background_demo OUTDIR INSTALLER
//
// The demo of an installer with a full-screen background: runs it, walks
// the wizard inside the background to the end as a user accepting every
// default (and replacing files of an earlier run) would, and saves the whole
// screen on each page as OUTDIR\NN-page.bmp (01-welcome ... 07-finished, the
// installing page only if it stays up long enough to be seen) and with the
// closing question as 08-closing-question.bmp, which is answered No. Exit
// code 0 when the installer ran to its end, 1 otherwise.

#include <cstdio>
#include <string>

#include "Driver.h"

using namespace e2e;

namespace {

constexpr int kNext = 1000;
constexpr int kCancel = 1002;
constexpr DWORD kPaintMs = 500;  // lets a new page and its picture paint

const char* const kPageNames[] = {"Welcome",   "License Agreement", "Installation Directory", "Shortcuts",
                                  "Summary",   "Installing...",     "Installation finished"};
const char* const kShotNames[] = {"01-welcome", "02-license",    "03-folder",  "04-shortcuts",
                                  "05-summary", "06-installing", "07-finished"};
constexpr int kPageSummary = 4;
constexpr int kPageInstalling = 5;
constexpr int kPageFinished = 6;

// The page a wizard caption names, or -1.
int PageOf(HWND wizard) {
    const std::string caption = WindowText(wizard);
    for (int page = 0; page <= kPageFinished; ++page) {
        const std::string suffix = std::string(" - ") + kPageNames[page];
        if (caption.size() >= suffix.size() &&
            caption.compare(caption.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return page;
        }
    }
    return -1;
}

bool Shoot(const std::string& folder, const char* name) {
    const std::string path = folder + "\\" + name + ".bmp";
    if (!SaveScreenshot(nullptr, path)) {
        std::fprintf(stderr, "cannot save %s\n", path.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

// The wizard lives inside the background, as its child dialog.
HWND FindInnerWizard(const Installer& installer) {
    for (HWND dialog : installer.Dialogs()) {
        for (HWND child = FindWindowExA(dialog, nullptr, "#32770", nullptr); child != nullptr;
             child = FindWindowExA(dialog, child, "#32770", nullptr)) {
            if (KindOf(child) == DialogKind::kWizard && IsWindowVisible(child)) return child;
        }
    }
    return nullptr;
}

int WaitForPageChange(const Installer& installer, HWND wizard, int page) {
    int now = page;
    WaitUntil([&] {
        now = PageOf(wizard);
        return now != page || installer.FindDialog(DialogKind::kMessageBox) != nullptr || installer.HasExited();
    });
    return now;
}

// Catches the installing page on the way to the finished page, replacing
// files of an earlier run when asked.
void ShootInstallingPage(const Installer& installer, HWND wizard, const std::string& folder) {
    bool shot = false;
    WaitUntil(
        [&] {
            HWND question = installer.FindDialog(DialogKind::kMessageBox);
            if (question != nullptr && HasControl(question, IDYES)) Click(question, IDYES);
            const int page = PageOf(wizard);
            if (!shot && page == kPageInstalling && ControlVisible(wizard, kCancel)) {
                Sleep(50);  // lets it paint
                shot = Shoot(folder, kShotNames[kPageInstalling]) && PageOf(wizard) == kPageInstalling;
            }
            return page == kPageFinished || installer.HasExited();
        },
        kWaitMs, 1);
    if (shot) return;
    (void)DeleteFileA((folder + "\\" + kShotNames[kPageInstalling] + ".bmp").c_str());  // taken too late, if at all
    std::printf("(the installing page passed too quickly for a picture)\n");
}

int Walk(Installer& installer, const std::string& folder) {
    HWND wizard = nullptr;
    WaitUntil([&] { return (wizard = FindInnerWizard(installer)) != nullptr || installer.HasExited(); });
    if (wizard == nullptr) {
        std::fprintf(stderr, "no wizard inside a background\n");
        return 1;
    }
    int page = WaitForPageChange(installer, wizard, -1);
    while (page >= 0 && page <= kPageSummary) {
        Sleep(kPaintMs);
        (void)Shoot(folder, kShotNames[page]);
        Click(wizard, kNext);
        if (page == kPageSummary) break;  // "Install"
        const int next = WaitForPageChange(installer, wizard, page);
        if (next == page) break;
        page = next;
    }
    if (page != kPageSummary) {
        std::fprintf(stderr, "stuck at \"%s\"\n", WindowText(wizard).c_str());
        return 1;
    }
    ShootInstallingPage(installer, wizard, folder);
    if (PageOf(wizard) != kPageFinished) {
        std::fprintf(stderr, "the finished page did not come\n");
        return 1;
    }
    Sleep(kPaintMs);
    (void)Shoot(folder, kShotNames[kPageFinished]);
    Click(wizard, kNext);  // "Done"
    if (HWND box = installer.WaitForDialog(DialogKind::kMessageBox, 3000)) {
        Sleep(kPaintMs);
        (void)Shoot(folder, "08-closing-question");
        Click(box, HasControl(box, IDNO) ? IDNO : IDOK);
    }
    DWORD exitCode = 1;
    if (!installer.WaitForExit(&exitCode)) {
        std::fprintf(stderr, "the installer did not end after Done\n");
        return 1;
    }
    if (exitCode != 0) {
        std::fprintf(stderr, "the installer ended with exit code %lu after the finished page\n",
                     static_cast<unsigned long>(exitCode));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kx_background_demo OUTDIR INSTALLER\n");
        return 2;
    }
    // Its own desktop, so the installer's windows appear on this display.
    if (!UsePrivateDesktop("kx-background-demo-" + std::to_string(GetCurrentProcessId()))) {
        std::fprintf(stderr, "cannot create a desktop for the installer\n");
        return 1;
    }
    Installer installer;
    if (!installer.Start(argv[2])) {
        std::fprintf(stderr, "cannot start %s\n", argv[2]);
        return 1;
    }
    return Walk(installer, argv[1]);
}
