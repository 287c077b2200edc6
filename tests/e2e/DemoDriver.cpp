// kx_demo_driver OUTDIR INSTALLER
//
// Runs an installer and walks its wizard to the end as a user accepting
// every default (and replacing files of an earlier run) would, saving a
// picture of each page it passes as OUTDIR\NN-page.bmp (01-welcome ...
// 07-finished) and of the closing question as 08-closing-question.bmp.
// Pages the package skips get no picture; the installing page gets one only
// if it stays up long enough to be seen. The closing question is answered
// No, so nothing is opened. Exit code 0 when the installer ran to its end,
// 1 otherwise.

#include <cstdio>
#include <string>

#include "Driver.h"

using namespace e2e;

namespace {

constexpr int kNext = 1000;
constexpr int kSummary = 1010;  // the finished page's text
constexpr int kCancel = 1002;
constexpr int kPageSummary = 4;
constexpr int kPageInstalling = 5;
constexpr int kPageFinished = 6;
constexpr DWORD kPaintMs = 500;  // lets a new page paint before it is photographed

struct PageShot {
    const char* name;  // caption suffix
    const char* file;
};

const PageShot kPages[] = {
    {"Welcome", "01-welcome"},     {"License Agreement", "02-license"}, {"Installation Directory", "03-folder"},
    {"Shortcuts", "04-shortcuts"}, {"Summary", "05-summary"},           {"Installing...", "06-installing"},
    {"Installation finished", "07-finished"},
};

// The page a wizard caption names, or -1.
int PageOf(const std::string& caption) {
    for (int page = 0; page <= kPageFinished; ++page) {
        const std::string suffix = std::string(" - ") + kPages[page].name;
        const bool endsWithSuffix = caption.size() >= suffix.size() &&
                                    caption.compare(caption.size() - suffix.size(), suffix.size(), suffix) == 0;
        if (endsWithSuffix) return page;
    }
    return -1;
}

bool Shoot(HWND window, const std::string& folder, const char* file) {
    const std::string path = folder + "\\" + file + ".bmp";
    if (!SaveScreenshot(window, path)) {
        std::fprintf(stderr, "cannot save %s\n", path.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

// Waits until the wizard shows another page than `page`; a message box on
// the way (a refused folder) ends the walk.
int WaitForPageChange(const Installer& installer, HWND wizard, int page, DWORD pollMs) {
    int now = page;
    WaitUntil(
        [&] {
            now = PageOf(WindowText(wizard));
            return now != page || installer.FindDialog(DialogKind::kMessageBox) != nullptr || installer.HasExited();
        },
        kWaitMs, pollMs);
    return now;
}

// From the summary on: catches the short-lived installing page (in the wizard
// or in the separate progress window) while waiting for the finished page,
// and lets files of an earlier run be replaced. A picture counts only if the
// page was still up once it had been taken.
void ShootInstallingPage(const Installer& installer, HWND wizard, const std::string& folder) {
    bool shot = false;
    WaitUntil(
        [&] {
            HWND question = installer.FindDialog(DialogKind::kMessageBox);
            if (question != nullptr && HasControl(question, IDYES)) Click(question, IDYES);
            const int page = PageOf(WindowText(wizard));
            HWND progress = installer.FindDialog(DialogKind::kProgress);
            // The page is complete once its Cancel button shows.
            HWND shown = progress ? progress : (ControlVisible(wizard, kCancel) ? wizard : nullptr);
            if (!shot && page == kPageInstalling && shown != nullptr) {
                Sleep(50);  // lets it paint
                shot = Shoot(shown, folder, kPages[kPageInstalling].file) &&
                       PageOf(WindowText(wizard)) == kPageInstalling;
            }
            return page == kPageFinished || installer.HasExited();
        },
        kWaitMs, 1);
    if (shot) return;
    (void)DeleteFileA((folder + "\\" + kPages[kPageInstalling].file + ".bmp").c_str());  // taken too late, if at all
    std::printf("(the installing page passed too quickly for a picture)\n");
}

void AnswerClosingQuestion(const Installer& installer, const std::string& folder) {
    HWND box = installer.WaitForDialog(DialogKind::kMessageBox, 3000);
    if (box == nullptr) return;  // a package without a closing question
    Sleep(kPaintMs);
    (void)Shoot(nullptr, folder, "08-closing-question");
    Click(box, HasControl(box, IDNO) ? IDNO : IDOK);
}

int Walk(Installer& installer, const std::string& folder) {
    HWND wizard = installer.WaitForDialog(DialogKind::kWizard);
    if (wizard == nullptr) {
        std::fprintf(stderr, "the wizard did not open\n");
        return 1;
    }
    int page = WaitForPageChange(installer, wizard, -1, 10);
    for (;;) {
        if (page < 0 || page >= kPageInstalling) {
            std::fprintf(stderr, "unexpected wizard caption \"%s\"\n", WindowText(wizard).c_str());
            return 1;
        }
        Sleep(kPaintMs);
        (void)Shoot(wizard, folder, kPages[page].file);
        Click(wizard, kNext);
        if (page == kPageSummary) break;  // "Install"
        const int next = WaitForPageChange(installer, wizard, page, 10);
        if (next == page || installer.FindDialog(DialogKind::kMessageBox) != nullptr) {
            std::fprintf(stderr, "stuck on page \"%s\"\n", kPages[page].name);
            return 1;
        }
        page = next;
    }
    ShootInstallingPage(installer, wizard, folder);
    if (PageOf(WindowText(wizard)) != kPageFinished) {
        std::fprintf(stderr, "the finished page did not come\n");
        return 1;
    }
    Sleep(kPaintMs);
    (void)Shoot(wizard, folder, kPages[kPageFinished].file);
    const std::string finishedText = ControlText(wizard, kSummary);
    Click(wizard, kNext);  // "Done"
    AnswerClosingQuestion(installer, folder);
    DWORD exitCode = 1;
    if (!installer.WaitForExit(&exitCode)) {
        std::fprintf(stderr, "the installer did not end after Done\n");
        return 1;
    }
    if (exitCode != 0) {
        std::fprintf(stderr, "the installer ended with exit code %lu after the page \"%s\", which said:\n%s\n",
                     static_cast<unsigned long>(exitCode), kPages[kPageFinished].name, finishedText.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kx_demo_driver OUTDIR INSTALLER\n");
        return 2;
    }
    const std::string folder = argv[1];
    // Its own desktop, so the installer's windows appear on this display.
    if (!UsePrivateDesktop("kx-demo-" + std::to_string(GetCurrentProcessId()))) {
        std::fprintf(stderr, "cannot create a desktop for the installer\n");
        return 1;
    }
    Installer installer;
    if (!installer.Start(argv[2])) {
        std::fprintf(stderr, "cannot start %s\n", argv[2]);
        return 1;
    }
    return Walk(installer, folder);
}
