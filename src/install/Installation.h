#pragma once
// The installation proper, run by the install worker thread: places the
// payload files that fileinfo.txt names, creates the ticked shortcuts,
// completes the uninstall list and registers the uninstaller. It reaches the
// windows only through InstallView, so it runs and is tested without them.

#include <cstdint>
#include <string>

#include "common/FailureAnswer.h"
#include "state/InstallerState.h"

enum class OverwriteAnswer { Yes, No, Cancel };

class InstallView {
public:
    virtual ~InstallView() = default;
    // The install folder field's text, at most 259 characters.
    virtual std::string InstallFolderText() = 0;
    // Waits for the window that shows progress (the separate progress window
    // when there is one) and shows its progress bar.
    virtual void UseReportingWindow() = 0;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetProgressRange(int32_t maximum) = 0;
    virtual void SetProgressPosition(int32_t position) = 0;
    virtual OverwriteAnswer AskOverwrite(const std::string& question) = 0;
    // A payload file could not be placed: try again, skip it, or stop.
    virtual FailureAnswer AskAboutFailure(const std::string& message) = 0;
    // Whether the box of a shortcut location (0 desktop, 1 start menu,
    // 2 quick launch) is ticked.
    virtual bool IsLocationTicked(int32_t location) = 0;
    // False when the link could not be saved.
    virtual bool CreateShellLink(const std::string& target, const std::string& workingFolder,
                                 const std::string& linkPath) = 0;
    virtual void NotifyFolderCreated(const std::string& folder) = 0;
};

enum class InstallOutcome {
    Finished,  // hand over to the finished page
    Aborted,   // a confirmed cancel: every file is closed; the caller removes
               // the workspace and ends the process
    Stopped,   // Abort after a failed file: as Aborted, with its own exit code
};

// Progress bar 1021 for index 0, 1022 for 1; any other index uses 1021.
int SelectedProgressBar(const InstallerState& state);

InstallOutcome RunInstallation(InstallerState& state, InstallView& view);

// Appends text and CR LF to the file at path, creating it. A file that
// cannot be opened gets nothing.
void AppendLine(const std::string& path, const std::string& text);

// Creates folder and any missing folder above it. False when it could not
// be created; LastErrorCode then tells why.
bool CreateFolderChain(const std::string& folder);

// The question about a file that could not be placed.
std::string PlacementFailureText(const std::string& destination, const std::string& reason);

// "Installing\n<destination>...", cut in the middle of the destination so
// that it fits 259 characters and still shows the file's name.
std::string InstallingStatus(const std::string& destination);

// The folder a shortcut of this location goes into. For the start menu the
// group folder is created and added to createdFolder. The scope chooses the
// user's folders or the common ones.
std::string ResolveShortcutFolder(const ShortcutRecord& record, std::string* createdFolder, InstallView& view,
                                  Scope scope = Scope::Legacy);
