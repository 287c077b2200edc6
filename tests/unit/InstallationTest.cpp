#include <deque>

#include "TestSupport.h"
#include "install/Installation.h"
#include "startup/PackageLoader.h"
#include "state/Workspace.h"

namespace {

// The worker's windows, without windows: answers questions from a script
// and remembers what it was told.
class FakeInstallView : public InstallView {
public:
    std::string folder;
    std::deque<OverwriteAnswer> answers;
    std::vector<std::string> questions;
    std::vector<std::string> statuses;
    std::vector<int32_t> positions;
    int32_t range = -1;
    bool ticked[3] = {true, true, true};
    struct Link {
        std::string target, workingFolder, path;
    };
    std::vector<Link> links;
    std::vector<std::string> notified;
    std::function<void()> onStatus;

    std::string InstallFolderText() override { return folder; }
    void UseReportingWindow() override {}
    void SetStatus(const std::string& text) override {
        statuses.push_back(text);
        if (onStatus) onStatus();
    }
    void SetProgressRange(int32_t maximum) override { range = maximum; }
    void SetProgressPosition(int32_t position) override { positions.push_back(position); }
    OverwriteAnswer AskOverwrite(const std::string& question) override {
        questions.push_back(question);
        if (answers.empty()) return OverwriteAnswer::Cancel;
        const OverwriteAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool IsLocationTicked(int32_t location) override { return ticked[location]; }
    void CreateShellLink(const std::string& target, const std::string& workingFolder,
                         const std::string& linkPath) override {
        links.push_back({target, workingFolder, linkPath});
    }
    void NotifyFolderCreated(const std::string& created) override { notified.push_back(created); }
};

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start) + "<unterminated>");
    return lines;
}

class InstallationTest : public ScratchFolder {
protected:
    InstallerState state;
    FakeInstallView view;
    std::string target;  // the install folder, with "\" as the package writes it

    void SetUp() override {
        ScratchFolder::SetUp();
        target = Folder() + "Target";
        view.folder = target;
    }

    // Loads a package as the loader does; controlFiles are name -> content.
    void Load(std::vector<ZipItem> payload, const std::vector<std::pair<std::string, std::string>>& controlFiles) {
        std::vector<ZipItem> items;
        for (const auto& file : controlFiles) items.push_back(FileItem("%KXInstall%/" + file.first, file.second));
        items.insert(items.end(), payload.begin(), payload.end());
        const Bytes archive = BuildZip(items);
        Bytes installer = ToBytes("MZ stub");
        installer.insert(installer.end(), archive.begin(), archive.end());
        unsigned char trailer[8];
        package::WriteLe64(trailer, archive.size());
        installer.insert(installer.end(), trailer, trailer + 8);
        ASSERT_TRUE(WriteBytes(Path("setup.exe"), installer));
        ASSERT_EQ(CopyResult::Copied, CopyArchiveOut(state, Path("setup.exe"), ArchiveCopyPath(), CopyProgress()));
        ASSERT_TRUE(ExtractControlFolder(state, ArchiveCopyPath(), platform::GetTempFolder()));
        LoadMacroTable(state.macroTable, ControlFilePath("macros.txt"));
    }

    std::string Installed(const std::string& name) { return ReadText(target + "/" + name); }
    std::vector<std::string> UninstallList() { return SplitLines(ReadText(target + "/uninstall.ini")); }
};

const char kMacros[] = "%name%\r\nSample App\r\n\r\n\r\n////\r\n////\r\n////\r\n////\r\n";

TEST_F(InstallationTest, PlacesNamedFilesAndWritesTheUninstallList) {
    Load({FileItem("readme.txt", "read me"), FolderItem("bin/"), FileItem("bin/tool.dat", "tool"),
          FileItem("unlisted.txt", "never placed")},
         {{"macros.txt", kMacros},
          {"fileinfo.txt", "readme.txt|%install path%\r\nbin\\tool.dat|%install path%\r\n////\r\nunlisted.txt|%install path%\r\n"},
          {"uninstall.txt", "%install path%\\readme.txt"}});
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    EXPECT_EQ("read me", Installed("readme.txt"));
    EXPECT_EQ("tool", Installed("bin/tool.dat"));
    EXPECT_FALSE(platform::PathExists((target + "/unlisted.txt").c_str()));
    EXPECT_EQ(state.payloadItemCount, view.range);
    EXPECT_EQ((std::vector<int32_t>{1, 2}), view.positions);  // stops short of the maximum
    EXPECT_EQ(2, state.progressPosition);
    EXPECT_EQ("Installing\n" + target + "\\readme.txt...", view.statuses[0]);
    const std::vector<std::string> expected = {"Sample App", target + "\\readme.txt", target + "\\bin\\tool.dat",
                                               target + "\\uninstall.ini", target + "\\", "||||"};
    EXPECT_EQ(expected, UninstallList());
    // No partial file is left beside a placed one.
    EXPECT_FALSE(platform::PathExists((target + "/readme.txt.kxpart").c_str()));
}

TEST_F(InstallationTest, OverwriteQuestionsFollowTheAnswers) {
    Load({FileItem("a.txt", "new a"), FileItem("b.txt", "new b"), FileItem("c.txt", "new c")},
         {{"fileinfo.txt", "a.txt|" + std::string("%install path%") + "\r\nb.txt|%install path%\r\na.txt|%install path%\r\n"
                           "c.txt|%install path%\r\n////\r\n"},
          {"uninstall.txt", "%install path%\\a.txt"}});
    ASSERT_TRUE(platform::CreateFolder(target.c_str()));
    ASSERT_TRUE(WriteBytes(target + "/b.txt", ToBytes("old b")));
    view.answers = {OverwriteAnswer::No, OverwriteAnswer::Yes};
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    ASSERT_EQ(2u, view.questions.size());
    EXPECT_EQ("The file named b.txt already exists at the selected location.\nDo you wish to replace it?",
              view.questions[0]);
    EXPECT_EQ("old b", Installed("b.txt"));  // No keeps it
    EXPECT_EQ("new a", Installed("a.txt"));  // listed twice: the second time it is replaced
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4}), view.positions);  // No still advances
    const std::vector<std::string> list = UninstallList();
    ASSERT_EQ(7u, list.size());
    EXPECT_EQ(target + "\\a.txt", list[1]);
    EXPECT_EQ(target + "\\a.txt", list[2]);  // b.txt, kept, is not listed
    EXPECT_EQ(target + "\\c.txt", list[3]);
}

TEST_F(InstallationTest, CancelInTheOverwriteQuestionStopsWithWhatWasPlaced) {
    Load({FileItem("a.txt", "a"), FileItem("b.txt", "b"), FileItem("c.txt", "c")},
         {{"fileinfo.txt", "a.txt|%install path%\r\nb.txt|%install path%\r\nc.txt|%install path%\r\n////\r\n"},
          {"uninstall.txt", "%install path%\\a.txt"}});
    ASSERT_TRUE(platform::CreateFolder(target.c_str()));
    ASSERT_TRUE(WriteBytes(target + "/b.txt", ToBytes("old b")));
    view.answers = {OverwriteAnswer::Cancel};
    EXPECT_EQ(InstallOutcome::Aborted, RunInstallation(state, view));
    EXPECT_EQ("a", Installed("a.txt"));
    EXPECT_EQ("old b", Installed("b.txt"));
    EXPECT_FALSE(platform::PathExists((target + "/c.txt").c_str()));
    // Nothing after the cancel: no closing lines, no registration.
    EXPECT_EQ((std::vector<std::string>{"", target + "\\a.txt"}), UninstallList());
}

TEST_F(InstallationTest, AConfirmedCancelStopsBeforeTheNextFile) {
    Load({FileItem("a.txt", "a"), FileItem("b.txt", "b")},
         {{"fileinfo.txt", "a.txt|%install path%\r\nb.txt|%install path%\r\n////\r\n"}});
    view.onStatus = [this] { state.cancelRequested = true; };
    EXPECT_EQ(InstallOutcome::Aborted, RunInstallation(state, view));
    EXPECT_EQ("a", Installed("a.txt"));
    EXPECT_FALSE(platform::PathExists((target + "/b.txt").c_str()));
}

TEST_F(InstallationTest, NamesMustMatchExactlyAndControlItemsAreNeverPlaced) {
    Load({FileItem("Docs/Manual.txt", "manual"), FileItem("dup.txt", "first"), FileItem("dup.txt", "second")},
         {{"fileinfo.txt", "docs\\manual.txt|%install path%\r\nDocs/Manual.txt|%install path%\r\n"
                           "%KXInstall%\\fileinfo.txt|%install path%\r\nDocs\\Manual.txt|\r\ndup.txt|%install path%\r\n"
                           "////\r\n"}});
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    EXPECT_FALSE(platform::PathExists((target + "/docs").c_str()));
    EXPECT_FALSE(platform::PathExists((target + "/%KXInstall%").c_str()));
    EXPECT_EQ("first", Installed("dup.txt"));  // the first item in archive order
    // Only dup.txt was handled: wrong case, "/", control items and an empty
    // folder all place nothing.
    EXPECT_EQ((std::vector<int32_t>{1}), view.positions);
}

TEST_F(InstallationTest, AFolderWithATrailingBackslashGetsNoSecond) {
    Load({FileItem("a.txt", "a")}, {{"fileinfo.txt", "a.txt|" + Folder() + "Out\\\r\n////\r\n"}});
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    EXPECT_EQ("a", ReadText(Folder() + "Out/a.txt"));
    EXPECT_EQ("Installing\n" + Folder() + "Out\\a.txt...", view.statuses.at(0));
}

TEST_F(InstallationTest, AListWithoutTerminatorEndsAtTheEndOfTheFile) {
    Load({FileItem("a.txt", "a"), FileItem("b.txt", "b")},
         {{"fileinfo.txt", "a.txt|%install path%\r\n" + std::string(300, 'x') + "\r\nb.txt|%install path%\r\n"}});
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    EXPECT_EQ("a", Installed("a.txt"));
    EXPECT_FALSE(platform::PathExists((target + "/b.txt").c_str()));  // after the over-long line
}

TEST_F(InstallationTest, DamagedDataNeverReplacesAGoodFile) {
    ZipItem damaged = FileItem("a.txt", "new contents");
    damaged.centralCrc = damaged.localCrc = 0xBAD;
    Load({damaged}, {{"fileinfo.txt", "a.txt|%install path%\r\n////\r\n"}});
    ASSERT_TRUE(platform::CreateFolder(target.c_str()));
    ASSERT_TRUE(WriteBytes(target + "/a.txt", ToBytes("good old contents")));
    view.answers = {OverwriteAnswer::Yes};
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    EXPECT_EQ("good old contents", Installed("a.txt"));
    EXPECT_FALSE(platform::PathExists((target + "/a.txt.kxpart").c_str()));
}

TEST_F(InstallationTest, ShortcutsFollowTheTickedBoxes) {
    Load({FileItem("app.txt", "app")},
         {{"macros.txt", kMacros},
          {"fileinfo.txt", "app.txt|%install path%\r\n////\r\n"},
          {"shortcuts.txt", "%name%\r\nReadme\r\n%install path%\\app.txt\r\n1\r\nignored group\r\nApp\r\n%install path%\\app.txt\r\n0\r\n"
                            "q\r\nQuick\r\nnoslash\r\n2\r\n\r\nNever\r\nx\r\n7\r\n////\r\n////\r\n////\r\n////\r\n"},
          {"uninstall.txt", "%install path%\\app.txt"}});
    view.ticked[2] = false;
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    const std::string programs = platform::GetSpecialFolderPath(platform::kFolderPrograms);
    const std::string desktop = platform::GetSpecialFolderPath(platform::kFolderDesktopDirectory);
    ASSERT_EQ(2u, view.links.size());
    EXPECT_EQ(programs + "\\Sample App\\Readme.lnk", view.links[0].path);
    EXPECT_EQ(target + "\\app.txt", view.links[0].target);
    EXPECT_EQ(target + "\\", view.links[0].workingFolder);
    EXPECT_EQ(desktop + "\\App.lnk", view.links[1].path);
    EXPECT_TRUE(platform::PathExists((programs + "\\Sample App").c_str()));
    EXPECT_EQ((std::vector<std::string>{programs + "\\Sample App"}), view.notified);
    const std::vector<std::string> expected = {"Sample App",
                                               target + "\\app.txt",
                                               programs + "\\Sample App",
                                               programs + "\\Sample App\\Readme.lnk",
                                               "",
                                               desktop + "\\App.lnk",
                                               target + "\\uninstall.ini",
                                               target + "\\",
                                               "||||"};
    EXPECT_EQ(expected, UninstallList());
    EXPECT_EQ((std::array<bool, 3>{true, true, true}), state.shortcutLocationUsed);
    platform::RemoveFolder((programs + "\\Sample App").c_str());
}

TEST_F(InstallationTest, QuickLaunchShortcutsIgnoreTheirGroupAndTargetsWithoutFolderWorkNowhere) {
    Load({}, {{"shortcuts.txt", "group\r\nQuick\r\nnoslash\r\n2\r\n////\r\n////\r\n////\r\n////\r\n"}});
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    ASSERT_EQ(1u, view.links.size());
    EXPECT_EQ(platform::GetSpecialFolderPath(platform::kFolderAppData) +
                  "\\Microsoft\\Internet Explorer\\Quick Launch\\Quick.lnk",
              view.links[0].path);
    EXPECT_EQ("", view.links[0].workingFolder);
}

TEST_F(InstallationTest, TheUninstallerIsRegisteredUnderTheProductName) {
    Load({FileItem("u.exe", "uninstaller")},
         {{"macros.txt", kMacros}, {"fileinfo.txt", "u.exe|%install path%\\bin\r\n////\r\n"},
          {"uninstall.txt", "%install path%\\bin\\u.exe"}});
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample App";
    const auto root = platform::RegistryRoot::LocalMachine;
    std::string value;
    ASSERT_TRUE(platform::ReadRegistryString(root, key, "DisplayName", &value));
    EXPECT_EQ("Sample App (remove only)", value);
    ASSERT_TRUE(platform::ReadRegistryString(root, key, "UninstallString", &value));
    EXPECT_EQ("\"" + target + "\\bin\\u.exe\"", value);
    uint32_t flag = 0;
    ASSERT_TRUE(platform::ReadRegistryDword(root, key, "NoModify", &flag));
    EXPECT_EQ(1u, flag);
    ASSERT_TRUE(platform::ReadRegistryDword(root, key, "NoRepair", &flag));
    EXPECT_EQ(1u, flag);
    // The copy beside the uninstaller ends before the closing lines.
    const std::vector<std::string> copy = SplitLines(ReadText(target + "/bin/uninstall.ini"));
    EXPECT_EQ((std::vector<std::string>{"Sample App", target + "\\bin\\u.exe"}), copy);
    EXPECT_EQ(target + "\\bin\\uninstall.ini", UninstallList()[2]);
    platform::DeleteRegistryKey(root, key);
}

TEST_F(InstallationTest, WithoutUninstallerOrProductNothingIsRegistered) {
    Load({FileItem("a.txt", "a")}, {{"fileinfo.txt", "a.txt|%install path%\r\n////\r\n"}});
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    EXPECT_FALSE(platform::PathExists((target + "/uninstall.ini").c_str()));

    // An uninstaller but no product name: the list is complete, the
    // Uninstall key itself gets no values.
    InstallerState other;
    Load({FileItem("a.txt", "a")}, {{"uninstall.txt", "%install path%\\a.txt"}});
    other.payloadItemCount = state.payloadItemCount;
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(other, view));
    std::string value;
    EXPECT_FALSE(platform::ReadRegistryString(platform::RegistryRoot::LocalMachine,
                                              "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
                                              "DisplayName", &value));
    EXPECT_EQ("||||", UninstallList().back());
}

TEST(InstallingStatus, LongDestinationsKeepTheirFileNameWithin259Characters) {
    EXPECT_EQ("Installing\nC:\\a.txt...", InstallingStatus("C:\\a.txt"));
    const std::string longPath = "C:\\" + std::string(400, 'd') + "\\file-name.txt";
    const std::string status = InstallingStatus(longPath);
    EXPECT_EQ(259u, status.size());
    EXPECT_EQ("Installing\nC:\\", status.substr(0, 14));
    EXPECT_NE(std::string::npos, status.find("\\file-name.txt..."));
}

}  // namespace
