#include "InstallerFixture.h"

#include <cstdlib>

using namespace e2e;

std::string PackagePath(const std::string& name) {
    const char* folder = std::getenv("KX_E2E_PACKAGES");
    return std::string(folder ? folder : ".") + "\\" + name + ".exe";
}

std::string WithoutCarriageReturns(std::string text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') out += c;
    }
    return out;
}

void InstallerTest::SetUp() {
    // A workspace left by an earlier failure would hide whether this run removes its own.
    ASSERT_TRUE(RemoveWorkspaces());
}

void InstallerTest::TearDown() { installer.Kill(); }

testing::AssertionResult InstallerTest::Start(const std::string& package, const std::string& arguments) {
    const std::string path = PackagePath(package);
    if (!PathExists(path)) return testing::AssertionFailure() << "no test package " << path;
    if (!installer.Start(path, arguments)) return testing::AssertionFailure() << "cannot start " << path;
    return testing::AssertionSuccess();
}

HWND InstallerTest::OpenWizard(const std::string& package, const std::string& arguments) {
    EXPECT_TRUE(Start(package, arguments));
    HWND wizard = installer.WaitForDialog(DialogKind::kWizard);
    DWORD exitCode = 0;
    EXPECT_NE(wizard, nullptr) << "no wizard from " << package
                               << (installer.WaitForExit(&exitCode, 0) ? ", the installer ended with " : "")
                               << (installer.HasExited() ? std::to_string(exitCode) : "");
    // Proves that the workspace checks below look where the installer works.
    if (wizard != nullptr) {
        EXPECT_TRUE(PathExists(WorkspacePath() + "\\tempfile.tmp")) << WorkspacePath();
    }
    return wizard;
}

testing::AssertionResult InstallerTest::ShowsPage(HWND wizard, const std::string& pageName,
                                                  const std::string& title) {
    const std::string expected = title + " - " + pageName;
    if (WaitForCaption(wizard, expected)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "caption \"" << WindowText(wizard) << "\", expected \"" << expected << "\"";
}

testing::AssertionResult InstallerTest::ClickTo(HWND wizard, int button, const std::string& pageName) {
    const std::string caption = ControlText(wizard, button);
    Click(wizard, button);
    testing::AssertionResult shown = ShowsPage(wizard, pageName);
    if (!shown) shown << " after \"" << caption << "\"";
    return shown;
}

testing::AssertionResult InstallerTest::WalkToSummary(HWND wizard) {
    testing::AssertionResult walked = ShowsPage(wizard, page::kWelcome);
    if (walked) walked = ClickTo(wizard, ctl::kNext, page::kLicense);
    if (walked) walked = ClickTo(wizard, ctl::kNext, page::kFolder);
    if (walked) walked = ClickTo(wizard, ctl::kNext, page::kShortcuts);
    if (walked) walked = ClickTo(wizard, ctl::kNext, page::kSummary);
    return walked;
}

HWND InstallerTest::WaitForMessageBox() { return installer.WaitForDialog(DialogKind::kMessageBox); }

std::string InstallerTest::OpenDialogs() const {
    static const char* const kNames[] = {"extraction", "wizard", "progress", "message box", "other"};
    std::string shown = "visible dialogs:";
    for (HWND dialog : installer.Dialogs()) {
        if (!IsWindowVisible(dialog)) continue;
        shown += std::string(" ") + kNames[static_cast<int>(KindOf(dialog))] + " \"" + WindowText(dialog) + "\"";
    }
    return shown;
}

testing::AssertionResult InstallerTest::EndsCleanly(DWORD expectedExitCode) {
    DWORD exitCode = 0;
    if (!installer.WaitForExit(&exitCode)) return testing::AssertionFailure() << "installer still running, " << OpenDialogs();
    if (exitCode != expectedExitCode) return testing::AssertionFailure() << "exit code " << exitCode;
    if (!Workspaces().empty()) return testing::AssertionFailure() << "workspace left: " << Workspaces()[0];
    return testing::AssertionSuccess();
}

std::string InstallerTest::TargetFolder() const { return TempFolder() + "kx-e2e-target"; }
