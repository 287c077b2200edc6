#pragma once
// What the end-to-end tests share: the test packages that run_e2e.sh builds,
// the wizard's control identifiers, and a fixture that runs one installer
// per test and checks how it ends.

#include <gtest/gtest.h>

#include <string>

#include "Driver.h"

// Texts of the test packages (tests/e2e/packages) after macro expansion.
namespace pkg {
constexpr char kTitle[] = "E2E Product Setup";
constexpr char kWelcomeText[] = "Welcome to the E2E Product test installer.\n\nClick Next to continue.";
constexpr char kLicenseText[] = "E2E Product test license.\n\nClick I Agree to continue.";
constexpr char kDefaultFolder[] = "C:\\Program Files\\E2E Product";
constexpr int kNeededMegabytes = 3;  // data\filler.bin
}  // namespace pkg

// Page names, the second half of the wizard's caption.
namespace page {
constexpr char kWelcome[] = "Welcome";
constexpr char kLicense[] = "License Agreement";
constexpr char kFolder[] = "Installation Directory";
constexpr char kShortcuts[] = "Shortcuts";
constexpr char kSummary[] = "Summary";
constexpr char kInstalling[] = "Installing...";
constexpr char kFinished[] = "Installation finished";
}  // namespace page

// Controls of the wizard (dialog 101).
namespace ctl {
constexpr int kNext = 1000;
constexpr int kPrevious = 1001;
constexpr int kCancel = 1002;
constexpr int kText = 1004;
constexpr int kFolder = 1007;
constexpr int kBrowse = 1008;
constexpr int kFolderPrompt = 1009;
constexpr int kSummary = 1010;
constexpr int kLicensePrompt = 1011;
constexpr int kDesktop = 1012;
constexpr int kStartMenu = 1013;
constexpr int kQuickLaunch = 1014;
constexpr int kStatus = 1020;
constexpr int kCredit = 1030;
constexpr int kDiskSpace = 1032;
// The extraction dialog's Cancel button and progress bar.
constexpr int kExtractionCancel = 1000;
constexpr int kExtractionProgress = 1022;
}  // namespace ctl

// Path of the installer built from the named test package.
std::string PackagePath(const std::string& name);
// The rich-edit box hands its text back with CR LF line ends.
std::string WithoutCarriageReturns(std::string text);

// One installer per test. Each test starts from no workspace, and an
// installer still running at the end is ended.
class InstallerTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the installer of a test package; the wizard is then awaited
    // separately. Fails the test when it cannot start.
    testing::AssertionResult Start(const std::string& package, const std::string& arguments = std::string());
    // Starts the installer and waits for its wizard; null when none comes.
    HWND OpenWizard(const std::string& package, const std::string& arguments = std::string());
    // The wizard's caption reads "<title> - <page>" (waits for it).
    testing::AssertionResult ShowsPage(HWND wizard, const std::string& pageName,
                                       const std::string& title = pkg::kTitle);
    // Clicks a wizard button and waits for the page it should lead to.
    testing::AssertionResult ClickTo(HWND wizard, int button, const std::string& pageName);
    // Walks the full package's wizard from "Welcome" to "Summary".
    testing::AssertionResult WalkToSummary(HWND wizard);
    // Waits for a message box; null when none comes.
    HWND WaitForMessageBox();
    // The process ended with this exit code and its workspace is gone.
    testing::AssertionResult EndsCleanly(DWORD expectedExitCode = 0);
    // The installer's visible dialogs with their captions, for failure messages.
    std::string OpenDialogs() const;
    // A folder for the payload inside the test run's temporary folder.
    std::string TargetFolder() const;

    e2e::Installer installer;
};
