#include "TestSupport.h"
#include "text/TextEncoding.h"
#include "startup/ControlFiles.h"
#include "wizard/PageController.h"
#include "state/Workspace.h"

namespace {

class ControlFilesTest : public ScratchFolder {
protected:
    InstallerState state;

    void SetUp() override {
        ScratchFolder::SetUp();
        ASSERT_TRUE(platform::CreateFolder((WorkspaceBase() + package::kControlFolder).c_str()));
    }
    void Control(const std::string& name, const std::string& content) {
        ASSERT_TRUE(WriteBytes(ControlFilePath(name), ToBytes(content)));
    }
    bool Load() { return LoadControlFiles(state, WorkspaceBase()); }
};

TEST_F(ControlFilesTest, AnEmptyWorkspaceKeepsEveryDefaultAndCompletesLoading) {
    EXPECT_FALSE(Load());
    EXPECT_TRUE(state.loadingComplete);
    EXPECT_EQ("", TitleText(state));
    EXPECT_EQ("", state.welcomeText);
    EXPECT_EQ("", state.defaultFolder);
    EXPECT_FALSE(state.shortcutsDefined);
    EXPECT_EQ(0, state.progressBarIndex);
    EXPECT_FALSE(state.separateProgressWindow);
    // Nothing was created by looking for the files.
    std::vector<platform::FolderEntry> entries;
    ASSERT_TRUE(platform::ListFolder((WorkspaceBase() + package::kControlFolder).c_str(), &entries));
    EXPECT_TRUE(entries.empty());
}

TEST_F(ControlFilesTest, TextsAreExpandedOnceAndKeptOnDisk) {
    Control("macros.txt", "%name%\r\nSample App\r\n\r\n\r\n%pct%\r\n%name%\r\n\r\n\r\n////\r\n////\r\n////\r\n////\r\n");
    Control("tt.txt", "%name% Setup");
    Control("wt.txt", "Welcome to %name%.\r\nEnjoy %pct%.\r\n");
    Control("license.txt", "Terms for %name%\r\n");
    Control("def_install.txt", "%program files%\\%name%\r\n");
    Load();
    EXPECT_EQ("Sample App Setup", TitleText(state));
    EXPECT_EQ("Welcome to Sample App.\nEnjoy %name%.\n", state.welcomeText);
    EXPECT_EQ("Terms for Sample App\n", state.licenseText);
    EXPECT_EQ("C:\\Program Files\\Sample App", state.defaultFolder);
    EXPECT_EQ("", state.preferredFolder);
    EXPECT_EQ(std::string(kUtf8Mark) + "Welcome to Sample App.\r\nEnjoy %name%.\r\n", ReadText(ControlFilePath("wt.txt")));
    EXPECT_EQ("%pct%", state.macroTable.records[1].name);
}

TEST_F(ControlFilesTest, ShortcutLocationsAreCountedBeforeExpansion) {
    Control("shortcuts.txt", "Group\r\nReadme\r\n%install path%\\readme.txt\r\n1\r\n\r\nApp\r\n%install path%\\a.exe\r\n0\r\n"
                             "\r\nQuick\r\nx\r\n2\r\n////\r\n////\r\n////\r\n////\r\n");
    Load();
    EXPECT_TRUE(state.shortcutsDefined);
    EXPECT_EQ(3, state.shortcutCount);
    EXPECT_EQ((std::array<bool, 3>{true, true, true}), state.shortcutLocationUsed);
    EXPECT_NE(std::string::npos, ReadText(ControlFilePath("shortcuts.txt")).find("%install path%"));
}

TEST_F(ControlFilesTest, ShortcutFilesWithOnlyTheClosingGroupOrNoTerminator) {
    Control("shortcuts.txt", "////\r\n////\r\n////\r\n////\r\n");
    Load();
    EXPECT_TRUE(state.shortcutsDefined);
    EXPECT_EQ(0, state.shortcutCount);
    EXPECT_EQ((std::array<bool, 3>{false, false, false}), state.shortcutLocationUsed);

    InstallerState other;
    Control("shortcuts.txt", "G\nN\nT\n1\nG\nN\nT\n7\n");
    LoadControlFiles(other, WorkspaceBase());
    EXPECT_EQ(2, other.shortcutCount);
    EXPECT_EQ((std::array<bool, 3>{false, true, false}), other.shortcutLocationUsed);
}

TEST_F(ControlFilesTest, InstallerSettingsChooseTheProgressDisplay) {
    Control("installer_settings.txt", "1\r\ntrue\r\n");
    Load();
    EXPECT_EQ(1, state.progressBarIndex);
    EXPECT_TRUE(state.separateProgressWindow);
    InstallerState other;
    Control("installer_settings.txt", "0\r\nTrue\r\n");
    LoadControlFiles(other, WorkspaceBase());
    EXPECT_EQ(0, other.progressBarIndex);
    EXPECT_FALSE(other.separateProgressWindow);
}

TEST_F(ControlFilesTest, FullscreenSettingsAreReadLineByLine) {
    Control("macros.txt", "%name%\nSample\n\n\n////\n////\n////\n////\n");
    Control("fullscreen.txt", "Installing %name%\r\nwithout\r\n800\r\n600\r\nArial\r\n24\r\n700\r\n1\r\n0\r\n0\r\n0\r\n37\r\n"
                              "true\r\nt\r\n3\r\n255\r\n255\r\n300\r\n0\r\n0\r\n0\r\n0\r\n64\r\n128\r\n1\r\n2\r\n3\r\n");
    EXPECT_TRUE(Load());
    EXPECT_FALSE(state.loadingComplete);  // the background window completes it
    EXPECT_EQ("Installing Sample", state.backgroundText);
    EXPECT_TRUE(state.borderlessBackground);
    EXPECT_EQ(800, state.backgroundWidth);
    EXPECT_EQ(600, state.backgroundHeight);
    EXPECT_EQ("Arial", state.backgroundFontSpec.face);
    EXPECT_EQ(24, state.backgroundFontSpec.pointSize);
    EXPECT_EQ(700, state.backgroundFontSpec.weight);
    EXPECT_EQ(1, state.backgroundFontSpec.italic);
    EXPECT_EQ(37u, state.textFormat);
    EXPECT_TRUE(state.gradientEnabled);
    EXPECT_TRUE(state.shadowEnabled);
    EXPECT_EQ(3, state.shadowOffset);
    EXPECT_EQ(0x2CFFFFu, state.textColour);  // 300 keeps its low 8 bits: 44
    EXPECT_EQ(0u, state.shadowColour);
    EXPECT_EQ(0x804000u, state.backgroundColour);
    EXPECT_EQ(0x030201u, state.gradientEndColour);
}

TEST_F(ControlFilesTest, AShortFullscreenFileReadsZerosAndOnlyWithoutIsBorderless) {
    for (const char* frame : {"Without", "without ", ""}) {
        InstallerState other;
        Control("fullscreen.txt", std::string("Text\r\n") + frame + "\r\n640\r\n");
        EXPECT_TRUE(LoadControlFiles(other, WorkspaceBase()));
        EXPECT_FALSE(other.borderlessBackground) << frame;
        EXPECT_EQ(640, other.backgroundWidth);
        EXPECT_EQ(0, other.backgroundHeight);
        EXPECT_EQ(0u, other.textColour);
        EXPECT_FALSE(other.gradientEnabled);
    }
}

TEST(ColourFromNumbers, KeepsTheLowEightBitsOfEachChannel) {
    EXPECT_EQ(0x00FF8001u, ColourFromNumbers(1, 128, 255));
    EXPECT_EQ(0x0000002Cu, ColourFromNumbers(300, 256, 0));
    EXPECT_EQ(0x000000FFu, ColourFromNumbers(-1, 0, 0));
}

}  // namespace

namespace {

TEST_F(ControlFilesTest, AnEarlierVersionsFolderIsProposedUnlessThePackageInstallsSideBySide) {
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample App";
    const std::string earlier = Path("Earlier");
    ASSERT_TRUE(platform::CreateFolder(earlier.c_str()));
    Control("macros.txt", "%name%\r\nSample App\r\n\r\n\r\n////\r\n////\r\n////\r\n////\r\n");
    Control("def_install.txt", "C:\\Program Files\\Sample App 2\r\n");
    ASSERT_TRUE(platform::WriteRegistryString(platform::RegistryRoot::LocalMachine, key, "InstallLocation",
                                              earlier + "\\"));
    Load();
    EXPECT_EQ(earlier, state.previousFolder);
    EXPECT_EQ(earlier, StartingFolder(state));
    state.presetFolder = "D:\\Chosen";  // /D= still wins
    EXPECT_EQ("D:\\Chosen", StartingFolder(state));

    InstallerState sideBySide;
    Control("side_by_side.txt", "");
    LoadControlFiles(sideBySide, WorkspaceBase());
    EXPECT_EQ("", sideBySide.previousFolder);
    EXPECT_EQ("C:\\Program Files\\Sample App 2", StartingFolder(sideBySide));

    // A folder that is gone is not proposed.
    InstallerState gone;
    (void)platform::RemoveFile(ControlFilePath("side_by_side.txt").c_str());
    ASSERT_TRUE(platform::RemoveFolder(earlier.c_str()));
    LoadControlFiles(gone, WorkspaceBase());
    EXPECT_EQ("", gone.previousFolder);
    EXPECT_TRUE(platform::DeleteRegistryKey(platform::RegistryRoot::LocalMachine, key));
}

}  // namespace
