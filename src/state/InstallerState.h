#pragma once
// The one process-wide record of the installer's settings, texts, paths and
// flags. Every field starts empty, zero, false or null. Each field has one
// writer; the flags that cross threads are one-byte atomics.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>  // std::lock_guard
#include <string>
#include <vector>

#include "common/Scope.h"
#include "control/MacroExpander.h"
#include "control/ShortcutRecords.h"
#include "platform/Platform.h"

constexpr int kImageSlotCount = 20;
constexpr int kMaxBackgroundRecords = 1024;
// Wizard page N - 1 shows the pictures of page key N; key 6 is the
// "Installing..." page, whose pictures form the slideshow.
constexpr int32_t kSlideshowPageKey = 6;

struct BackgroundRecord {
    int32_t placementMode = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t pageKey = 0;  // 1 to 9, or 10
    std::string path;     // the extracted picture
};

// A COLORREF: red + green * 256 + blue * 65536.
using Colour = uint32_t;

struct InstallerState {
    // Windows, as opaque handles so this record stays free of system headers.
    void* instance = nullptr;
    std::atomic<void*> extractionDialog{nullptr};  // the loader sends progress to it
    void* wizardWindow = nullptr;
    std::atomic<void*> progressDialog{nullptr};  // the worker waits for it
    void* backgroundWindow = nullptr;

    // Decoded page pictures (IPicture on Windows), replaced on one thread and
    // painted on another: both only under pictureLock.
    platform::Lock pictureLock;
    void* logoPicture = nullptr;
    void* backgroundPicture = nullptr;
    bool backgroundImageMissing = true;
    int32_t currentBackgroundRecord = 0;

    // Start-up and loader hand-over.
    std::atomic<bool> cancelLoading{false};  // main thread -> loader
    std::atomic<bool> loaderStopped{false};  // loader -> main thread, after its files are closed
    std::atomic<bool> loadingComplete{false};
    // Why loading ended without a package, set before loadingComplete.
    std::atomic<bool> packageDamaged{false};
    std::atomic<bool> workspaceUnwritable{false};

    // Package contents, filled while the control folder is extracted.
    std::array<std::string, kImageSlotCount> imageSlots;
    // Every slot exists from the start (an unused one reads as empty); on the
    // heap, so the record itself stays small.
    std::vector<BackgroundRecord> backgroundRecords = std::vector<BackgroundRecord>(kMaxBackgroundRecords);
    int32_t backgroundRecordCount = 0;
    int32_t slideshowRecordCount = 0;
    int32_t payloadItemCount = 0;
    int64_t payloadBytes = 0;
    int32_t neededMegabytes = 0;

    // Settings and texts from the control files, written by the loader before
    // loadingComplete is set (titleText excepted: see TitleText).
    MacroTable macroTable;
    std::string welcomeText;
    std::string licenseText;
    std::string defaultFolder;
    std::string preferredFolder;
    std::string presetFolder;  // /D= on the command line: before both of these
    std::string previousFolder;  // where an earlier version is installed: before def_install.txt's
    // def_install.txt's two lines as written, for a folder page that can
    // change the scope and with it "%program files%".
    std::string defaultFolderTemplate;
    std::string preferredFolderTemplate;
    bool shortcutsDefined = false;
    std::vector<ShortcutRecord> shortcutTable;  // at most kMaxShortcutRecords
    int32_t shortcutCount = 0;
    std::array<bool, kShortcutLocationCount> shortcutLocationUsed{};
    int32_t progressBarIndex = 0;  // 0: bar 1021, 1: bar 1022
    bool separateProgressWindow = false;

    // Who the package is installed for, planned before anything is loaded;
    // for an Either package the folder page may change scope.
    ScopeSetting scopeSetting = ScopeSetting::Absent;
    Scope scope = Scope::Legacy;
    platform::ProcessRights rights = platform::ProcessRights::Elevated;
    bool scopeDecided = false;           // by a switch, or by the run that handed over
    std::string logPath;                 // /LOG=, passed on to an elevated run
    bool startAfterFolderPage = false;   // this run was started for all users by the folder page
    int32_t elevatedExitCode = -1;       // that run's, once the folder page handed over to it

    // Full-screen background.
    std::string backgroundText;
    bool borderlessBackground = false;
    int32_t backgroundWidth = 0;
    int32_t backgroundHeight = 0;
    platform::FontDescription backgroundFontSpec;  // as fullscreen.txt gives it
    void* backgroundFont = nullptr;  // HFONT on Windows
    uint32_t textFormat = 0;
    bool gradientEnabled = false;
    bool shadowEnabled = false;
    int32_t shadowOffset = 0;
    Colour textColour = 0;
    Colour shadowColour = 0;
    Colour backgroundColour = 0;
    Colour gradientEndColour = 0;

    // Wizard. currentPage is written by the wizard's thread, and once by the
    // install worker's completion, which reaches that thread as a message.
    std::atomic<int32_t> currentPage{0};
    bool movingForward = true;
    std::atomic<bool> cancelPromptOpen{false};  // dialog threads -> worker
    std::atomic<bool> cancelRequested{false};
    int32_t availableMegabytes = 0;
    std::string lastFolderText;
    std::atomic<int32_t> progressPosition{0};  // worker -> slideshow
    // What the installation could not place or create, as the finished page
    // names it: written by the worker before it reports that it finished.
    std::vector<std::string> missingItems;
    // After a run that did not complete: whether its journal was undone whole.
    bool everythingPutBack = true;

    // End-of-install question, read when the finished page is set up.
    std::string eoiTarget;
    std::string eoiMessage;
    bool eoiAskYesNo = true;  // false: a box with a single OK button

    // The extraction dialog reads the title while the loader may still be
    // writing it, so it is only reached under its lock.
    mutable platform::Lock titleLock;
    std::string titleText;
};

inline void SetTitleText(InstallerState& state, const std::string& text) {
    std::lock_guard<platform::Lock> hold(state.titleLock);
    state.titleText = text;
}

inline std::string TitleText(const InstallerState& state) {
    std::lock_guard<platform::Lock> hold(state.titleLock);
    return state.titleText;
}
