// Unattended installations: /S, /D=, /LOG=, /? and unknown switches, and
// what each run leaves behind and returns.

#include "ExampleFixture.h"

using namespace e2e;
using namespace example;

namespace {

class SilentTest : public ExampleTest {
protected:
    std::string Outcome(const std::string& folder);
};

// Clicking through the wizard with its defaults, then /S into another
// folder: the same files, list, shortcuts and entry, and no window at all.
// The profile has no quick-launch folder at first: the wizard's run makes it
// and places its shortcut there, and finishes with the plain page.
TEST_F(SilentTest, SilentInstallDoesWhatClickingThroughTheDefaultsDoes) {
    const std::string clicked = scratch_ + "\\Clicked";
    HWND wizard = OpenWizard("sample-app");
    ASSERT_NE(wizard, nullptr);
    Click(wizard, ctl::kNext);  // license
    ASSERT_TRUE(WaitUntil([&] { return ControlVisible(wizard, ctl::kLicensePrompt); }));
    Click(wizard, ctl::kNext);  // folder page
    ASSERT_TRUE(WaitUntil([&] { return ControlVisible(wizard, ctl::kFolder); }));
    ASSERT_TRUE(SetControlText(wizard, ctl::kFolder, clicked));
    Click(wizard, ctl::kNext);  // shortcuts, all ticked
    ASSERT_TRUE(WaitUntil([&] { return ControlVisible(wizard, ctl::kStartMenu); }));
    Click(wizard, ctl::kNext);  // summary
    ASSERT_TRUE(WaitUntil([&] { return ControlText(wizard, ctl::kNext) == "Install"; }));
    Click(wizard, ctl::kNext);
    ASSERT_TRUE(WaitUntil([&] { return ControlText(wizard, ctl::kNext) == "Done"; }));
    EXPECT_EQ(ControlText(wizard, ctl::kSummary), "Installation finished!\n\nClick done to exit.");
    Click(wizard, ctl::kNext);
    HWND question = WaitForMessageBox();
    ASSERT_NE(question, nullptr);
    Click(question, IDNO);
    ASSERT_TRUE(EndsCleanly());
    EXPECT_TRUE(PathExists(QuickLaunchFolder() + "\\Sample App Readme.lnk"));
    std::string expected = Traces(clicked);
    RemoveExampleTraces();

    const std::string folder = scratch_ + "\\Some Folder\\App";
    ASSERT_TRUE(CreateDirectoryA((scratch_ + "\\Some Folder").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + "\\readme.txt", "an old readme"));  // replaced, as Yes would
    const std::string log = scratch_ + "\\setup.log";
    EXPECT_EQ(RunToEnd("sample-app", "/LOG=" + log + " /s /D=" + folder), 0);
    EXPECT_FALSE(sawWindow_) << "a window showed during a silent run";
    EXPECT_TRUE(Workspaces().empty());
    for (const std::string& name : kPayload) EXPECT_TRUE(SameContent(folder + "\\" + name, SourceFile(name))) << name;
    for (size_t at = expected.find(clicked); at != std::string::npos; at = expected.find(clicked, at)) {
        expected.replace(at, clicked.size(), folder);
    }
    EXPECT_EQ(Traces(folder), expected);

    std::string text;
    ASSERT_TRUE(ReadFileBytes(log, &text));
    EXPECT_NE(text.find(" command line: /LOG=" + log + " /s /D=" + folder + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" replaced " + folder + "\\readme.txt\r\n"), std::string::npos) << text;
    for (const char* name : {"docs\\manual.txt", "data\\settings.ini", "uninstall.exe"}) {
        EXPECT_NE(text.find(" placed " + folder + "\\" + name + "\r\n"), std::string::npos) << name;
    }
    EXPECT_NE(text.find(" registry HKEY_LOCAL_MACHINE\\" + std::string(kUninstallKey)), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 13), "exit code 0\r\n");
}

// What an installation of the example leaves that must not depend on the
// package's format: the files' bytes, the list, the shortcuts and their
// targets, the entry's values; the install folder written as "<folder>".
std::string SilentTest::Outcome(const std::string& folder) {
    std::string outcome = Traces(folder);
    std::vector<std::string> names = kPayload;
    names.push_back("uninstall.exe");
    for (const std::string& name : names) {
        std::string bytes;
        outcome += "\n" + name + ": " + (ReadFileBytes(folder + "\\" + name, &bytes) ? bytes : "(missing)");
    }
    for (const std::string& link : ExampleShortcuts()) {
        std::string target;
        std::string workingFolder;
        if (ReadShellLink(link, &target, &workingFolder)) outcome += "\n" + link + " -> " + target + " in " + workingFolder;
    }
    for (const char* value : {"DisplayName", "UninstallString", "InstallLocation", "EstimatedSize", "NoModify",
                              "QuietUninstallString"}) {
        RegistryValue data;
        if (ReadRegistryValue(HKEY_LOCAL_MACHINE, kUninstallKey, value, &data)) {
            outcome += std::string("\n") + value + "=" + data.data;
        }
    }
    for (size_t at = outcome.find(folder); at != std::string::npos; at = outcome.find(folder, at)) {
        outcome.replace(at, folder.size(), "<folder>");
    }
    return outcome;
}

TEST_F(SilentTest, ASolidBuildOfTheExampleInstallsExactlyLikeThePlainOne) {
    const std::string plainFolder = scratch_ + "\\Plain";
    ASSERT_EQ(RunToEnd("sample-app", "/S /D=" + plainFolder), 0);
    const std::string plain = Outcome(plainFolder);
    EXPECT_NE(plain.find("uninstall.exe: MZ"), std::string::npos) << plain;
    EXPECT_NE(plain.find("Readme.lnk -> <folder>\\readme.txt"), std::string::npos) << plain;
    RemoveExampleTraces();

    const std::string solidFolder = scratch_ + "\\Solid";
    const std::string log = scratch_ + "\\solid.log";
    ASSERT_EQ(RunToEnd("sample-app-solid", "/S /LOG=" + log + " /D=" + solidFolder), 0);
    EXPECT_FALSE(sawWindow_);
    EXPECT_TRUE(Workspaces().empty());
    EXPECT_EQ(Outcome(solidFolder), plain);
    std::string text;
    ASSERT_TRUE(ReadFileBytes(log, &text));
    EXPECT_NE(text.find(" bytes, solid, CRC-32 matches its integrity record; "), std::string::npos) << text;
}

TEST_F(SilentTest, ACutSolidInstallerEndsWithExitCodeOneAndPlacesNothing) {
    const std::string folder = scratch_ + "\\Cut";
    EXPECT_EQ(RunToEnd("damaged-solid-half", "/S /D=" + folder), 1);
    EXPECT_EQ(RunToEnd("damaged-solid-forged", "/S /D=" + folder), 1);
    EXPECT_FALSE(sawWindow_);
    EXPECT_TRUE(Workspaces().empty());
    EXPECT_FALSE(PathExists(folder));
}

TEST_F(SilentTest, TheFolderSwitchPresetsTheFieldOfTheWizard) {
    const std::string folder = scratch_ + "\\Preset Folder";
    ASSERT_TRUE(Start("sample-app", "/D=" + folder));
    HWND wizard = installer.WaitForDialog(DialogKind::kWizard);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(ControlText(wizard, ctl::kFolder), folder);
}

// The UNC folder has no free space to report, so the folder check fails.
TEST_F(SilentTest, AFolderThatFailsItsCheckStopsWithExitCodeTwoAndPlacesNothing) {
    const std::string log = scratch_ + "\\setup.log";
    EXPECT_EQ(RunToEnd("sample-app", "/S /LOG=" + log + " /D=\\\\server\\share\\App"), 2);
    EXPECT_FALSE(sawWindow_);
    EXPECT_TRUE(Workspaces().empty());
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    std::string text;
    ASSERT_TRUE(ReadFileBytes(log, &text));
    EXPECT_NE(text.find("folder check failed: There isn't enough free disk space"), std::string::npos) << text;
    EXPECT_EQ(text.find(" placed "), std::string::npos) << text;
}

TEST_F(SilentTest, ADamagedInstallerEndsWithExitCodeOneAndNoBox) {
    EXPECT_EQ(RunToEnd("damaged-half", "/S"), 1);
    EXPECT_FALSE(sawWindow_);
    EXPECT_TRUE(Workspaces().empty());
}

TEST_F(SilentTest, UnknownSwitchesAreNamedInABoxOrSilentlyEndWithExitCodeOne) {
    ASSERT_TRUE(Start("sample-app", "/X"));
    HWND box = WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(WindowText(box), "Installer");
    EXPECT_EQ(MessageText(box).find("Unknown switch: /X\n\nThe installer knows these switches:\n/S\t"), 0u)
        << MessageText(box);
    Click(box, IDOK);
    DWORD exitCode = 0;
    ASSERT_TRUE(installer.WaitForExit(&exitCode));
    EXPECT_EQ(exitCode, 1u);

    EXPECT_EQ(RunToEnd("sample-app", "/S /X"), 1);
    EXPECT_FALSE(sawWindow_);
}

TEST_F(SilentTest, HelpListsTheSwitchesAndTheExitCodes) {
    ASSERT_TRUE(Start("sample-app", "/?"));
    HWND box = WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    const std::string text = MessageText(box);
    EXPECT_NE(text.find("/LOG=<file>"), std::string::npos) << text;
    EXPECT_NE(text.find("3\tthe installation finished, but some items were not installed"), std::string::npos);
    Click(box, IDOK);
    DWORD exitCode = 1;
    ASSERT_TRUE(installer.WaitForExit(&exitCode));
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
