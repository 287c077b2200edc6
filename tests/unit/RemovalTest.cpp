#include <deque>

#include "TestSupport.h"
#include "common/PathText.h"
#include "install/Installation.h"
#include "uninstall/Removal.h"

namespace {

TEST(PathRules, OnlyPlainAbsolutePathsPass) {
    for (const char* path : {"C:\\App\\a.txt", "c:/App/sub/b.txt", "\\\\server\\share\\App\\a.txt", "C:\\a..b\\.c"}) {
        EXPECT_TRUE(IsPlainAbsolutePath(path)) << path;
    }
    for (const char* path : {"", "a.txt", "App\\a.txt", "C:App\\a.txt", "C:", "\\\\?\\C:\\App\\a.txt",
                             "\\\\.\\PhysicalDrive0", "\\\\server", "C:\\App\\..\\Windows\\win.ini",
                             "C:\\App\\.\\a.txt", "C:\\App\\.. \\a.txt", "C:\\App\\...\\a.txt", "C:\\App\\a.txt:hidden",
                             "C:\\App\\\\a.txt"}) {
        EXPECT_FALSE(IsPlainAbsolutePath(path)) << path;
    }
#ifdef _WIN32
    EXPECT_FALSE(IsPlainAbsolutePath("\\App\\a.txt"));  // relative to the current drive
#endif
    EXPECT_TRUE(LiesInside("c:/app/Sub/a.txt", "C:\\App\\"));
    EXPECT_FALSE(LiesInside("C:\\Application\\a.txt", "C:\\App\\"));
    EXPECT_FALSE(LiesInside("C:\\App\\", "C:\\App\\"));
}

class UninstallListTest : public ScratchFolder {};

TEST_F(UninstallListTest, ReadsBothEncodingsAndTellsCompleteListsFromCopies) {
    ASSERT_TRUE(WriteBytes(Path("ansi.ini"), ToBytes("Caf\xE9\r\nC:\\App\\a.txt\r\n\r\nC:\\Menu\\Caf\xE9\r\nC:\\Menu\\Caf\xE9\\"
                                                    "A.lnk\r\nC:\\App\\uninstall.ini\r\nC:\\App\\\r\n||||\r\n")));
    UninstallList list;
    ASSERT_TRUE(ReadUninstallList(Path("ansi.ini"), &list));
    EXPECT_EQ("Caf\xC3\xA9", list.product);  // cp1252 é, as UTF-8
    EXPECT_EQ((std::vector<std::string>{"C:\\App\\a.txt", "", "C:\\Menu\\Caf\xC3\xA9", "C:\\Menu\\Caf\xC3\xA9\\A.lnk"}),
              list.items);
    EXPECT_TRUE(list.complete);
    EXPECT_EQ("C:\\App\\uninstall.ini", list.copyPath);
    EXPECT_EQ("C:\\App\\", list.installPath);

    // A copy beside an uninstaller in a sub-folder ends after the shortcuts.
    ASSERT_TRUE(WriteBytes(Path("copy.ini"), ToBytes("\xEF\xBB\xBF\xE6\x97\xA5\r\nC:\\App\\bin\\u.exe\r\n")));
    ASSERT_TRUE(ReadUninstallList(Path("copy.ini"), &list));
    EXPECT_EQ("\xE6\x97\xA5", list.product);
    EXPECT_EQ((std::vector<std::string>{"C:\\App\\bin\\u.exe"}), list.items);
    EXPECT_FALSE(list.complete);

    for (const char* damaged : {"", "\r\nC:\\App\\a.txt\r\n", "App\r\nC:\\App\\\r\n||||\r\n",
                                "App\r\nC:\\App\\uninstall.ini\r\n..\\App\\\r\n||||\r\n",
                                "App\r\nC:\\App\\uninstall.ini\r\nC:\\App\r\n||||\r\n"}) {
        ASSERT_TRUE(WriteBytes(Path("damaged.ini"), ToBytes(damaged)));
        EXPECT_FALSE(ReadUninstallList(Path("damaged.ini"), &list)) << damaged;
    }
    EXPECT_FALSE(ReadUninstallList(Path("missing.ini"), &list));
    EXPECT_EQ("The uninstall list C:\\Apps\\Sample App\\uninstall.ini is missing or damaged, so Sample App can't be "
              "removed automatically.",
              ListDamagedText("C:\\Apps\\Sample App\\uninstall.ini"));
}

// The scope is the second line where there is one; older lists have none.
TEST_F(UninstallListTest, TheListRecordsTheScopeAndOlderListsReadAsBefore) {
    UninstallList list;
    for (const char* scope : {"user", "machine"}) {
        ASSERT_TRUE(WriteBytes(Path("scoped.ini"), ToBytes(std::string("App\r\nscope=") + scope +
                                                           "\r\nC:\\App\\a.txt\r\nC:\\App\\uninstall.ini\r\n"
                                                           "C:\\App\\\r\n||||\r\n")));
        ASSERT_TRUE(ReadUninstallList(Path("scoped.ini"), &list));
        EXPECT_EQ(ScopeFromName(scope), list.scope);
        EXPECT_EQ((std::vector<std::string>{"C:\\App\\a.txt"}), list.items);
        EXPECT_EQ("C:\\App\\", list.installPath);
    }
    ASSERT_TRUE(WriteBytes(Path("old.ini"), ToBytes("App\r\nC:\\App\\a.txt\r\nC:\\App\\uninstall.ini\r\nC:\\App\\\r\n||||\r\n")));
    ASSERT_TRUE(ReadUninstallList(Path("old.ini"), &list));
    EXPECT_EQ(Scope::Legacy, list.scope);
    EXPECT_EQ((std::vector<std::string>{"C:\\App\\a.txt"}), list.items);
    // The scope line does not count as one of the closing lines.
    ASSERT_TRUE(WriteBytes(Path("short.ini"), ToBytes("App\r\nscope=user\r\nC:\\App\\\r\n||||\r\n")));
    EXPECT_FALSE(ReadUninstallList(Path("short.ini"), &list));
}

class FakeRemovalView : public RemovalView {
public:
    std::deque<FailureAnswer> answers;  // Abort once they run out
    std::vector<std::string> failures;
    std::vector<std::string> shown;
    int32_t range = -1;

    void SetProgressRange(int32_t maximum) override { range = maximum; }
    void ShowProgress(int32_t, const std::string& path) override { shown.push_back(path); }
    FailureAnswer AskAboutFailure(const std::string& message) override {
        failures.push_back(message);
        if (answers.empty()) return FailureAnswer::Abort;
        const FailureAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

const char kKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Removal Test";

// An installation as the installer leaves it, in the scratch folder: the
// install folder "App" with its list, the uninstaller, a start-menu group
// and a file of the user's own; beside it files that are not ours.
class RemovalTest : public ScratchFolder {
protected:
    std::string app, group, outside;
    Removal removal;
    FakeRemovalView view;

    void SetUp() override {
        ScratchFolder::SetUp();
        app = Path("App");
        group = platform::GetSpecialFolderPath(platform::kFolderPrograms) + "\\Removal Test";
        outside = Path("Outside");
        for (const std::string& folder : {app + "\\sub\\deeper", outside, group}) {
            ASSERT_TRUE(CreateFolderChain(folder)) << folder;
        }
        for (const std::string& file : {app + "\\a.txt", app + "\\sub\\b.txt", app + "\\sub\\deeper\\c.txt",
                                        app + "\\u.exe", app + "\\mine.txt", group + "\\A.lnk", outside + "\\keep.txt"}) {
            ASSERT_TRUE(WriteBytes(file, ToBytes("x"))) << file;
        }
        ASSERT_TRUE(platform::WriteAttributes((app + "\\sub\\b.txt").c_str(), platform::kAttributeReadOnly));
        removal.uninstallerPath = app + "\\u.exe";
        removal.list.product = "Removal Test";
        removal.list.complete = true;
        removal.list.installPath = app + "\\";
        removal.list.copyPath = app + "\\uninstall.ini";
        removal.list.items = {app + "\\a.txt", app + "\\sub\\b.txt", app + "\\sub\\deeper\\c.txt", app + "\\u.exe",
                              "", group + "\\..\\..\\" + "Outside\\keep.txt", outside + "\\keep.txt", group,
                              group + "\\A.lnk"};
        ASSERT_TRUE(WriteBytes(app + "\\uninstall.ini", ToBytes("Removal Test\r\n")));
        const auto machine = platform::RegistryRoot::LocalMachine;
        ASSERT_TRUE(platform::WriteRegistryString(machine, kKey, "UninstallString", "\"" + app + "\\u.exe\""));
        ASSERT_TRUE(platform::WriteRegistryString(machine, kKey, "InstallLocation", app + "\\"));
        ASSERT_TRUE(platform::WriteRegistryString(platform::RegistryRoot::CurrentUser, kKey, "UninstallString",
                                                  "\"C:\\Elsewhere\\u.exe\""));
    }
    void TearDown() override {
        (void)platform::DeleteRegistryKey(platform::RegistryRoot::LocalMachine, kKey);
        (void)platform::DeleteRegistryKey(platform::RegistryRoot::CurrentUser, kKey);
        ScratchFolder::TearDown();
    }
    bool Exists(const std::string& path) { return platform::PathExists(path.c_str()); }
};

TEST_F(RemovalTest, RemovesWhatTheListPlacedAndNothingElse) {
    ASSERT_EQ(RemovalOutcome::Removed, RemoveProduct(removal, view));
    EXPECT_EQ(9, view.range);
    EXPECT_EQ(removal.list.items, view.shown);
    EXPECT_TRUE(view.failures.empty());
    for (const char* gone : {"\\a.txt", "\\sub\\b.txt", "\\sub\\deeper\\c.txt", "\\uninstall.ini"}) {
        EXPECT_FALSE(Exists(app + gone)) << gone;
    }
    EXPECT_FALSE(Exists(group + "\\A.lnk"));
    // Outside the install folder and not a shortcut, directly or through "..".
    EXPECT_TRUE(Exists(outside + "\\keep.txt"));
    // Still running: it goes after it ended.
    EXPECT_TRUE(Exists(app + "\\u.exe"));
    std::string value;
    EXPECT_FALSE(platform::ReadRegistryString(platform::RegistryRoot::LocalMachine, kKey, "UninstallString", &value));
    // Another installation's entry of the same name stays.
    EXPECT_TRUE(platform::ReadRegistryString(platform::RegistryRoot::CurrentUser, kKey, "UninstallString", &value));

    RemoveUninstallerAndFolders(removal);
    EXPECT_FALSE(Exists(app + "\\u.exe"));
    EXPECT_FALSE(Exists(app + "\\sub"));
    EXPECT_FALSE(Exists(group));
    EXPECT_TRUE(Exists(app + "\\mine.txt"));  // the user's, and so its folder
    EXPECT_TRUE(removal.itemsLeft.empty());
    EXPECT_EQ(0, RemovalExitCode(RemovalOutcome::Removed, removal));
    EXPECT_EQ("Removal Test was removed from your computer.", RemovedText("Removal Test", removal.itemsLeft));

    // Without the closing lines, the install folder comes from the entry
    // that names this uninstaller, and from no other.
    std::string location;
    ASSERT_TRUE(platform::WriteRegistryString(platform::RegistryRoot::CurrentUser, kKey, "InstallLocation", "C:\\B"));
    EXPECT_FALSE(FindInstallLocation("Removal Test", app + "\\u.exe", &location));
    EXPECT_TRUE(FindInstallLocation("Removal Test", "c:\\elsewhere\\U.EXE", &location));
    EXPECT_EQ("C:\\B\\", location);
}

#ifndef _WIN32
TEST_F(RemovalTest, NothingIsRemovedBehindAFolderLinkAndAListedLinkGoesAsALink) {
    ASSERT_EQ(0, symlink(outside.c_str(), (app + "/linked").c_str()));
    removal.list.items = {app + "\\linked\\keep.txt", app + "\\linked"};
    ASSERT_EQ(RemovalOutcome::Removed, RemoveProduct(removal, view));
    RemoveUninstallerAndFolders(removal);
    EXPECT_TRUE(Exists(outside + "\\keep.txt"));
    EXPECT_EQ(platform::kNoAttributes, platform::ReadAttributes((app + "\\linked").c_str()));
}
#endif

#ifdef _WIN32
// Only Windows refuses to remove a file that is open without sharing.
TEST_F(RemovalTest, AFileInUseIsAskedAboutAndAbortKeepsTheListAndTheEntry) {
    platform::UniqueFile held(platform::CreateFileForWriting((app + "\\sub\\deeper\\c.txt").c_str(),
                                                             platform::kAttributeNormal));
    ASSERT_TRUE(held.IsOpen());
    view.answers = {FailureAnswer::Retry, FailureAnswer::Ignore};
    ASSERT_EQ(RemovalOutcome::Removed, RemoveProduct(removal, view));
    ASSERT_EQ(2u, view.failures.size());
    EXPECT_EQ(0u, view.failures[0].find("The file " + app + "\\sub\\deeper\\c.txt could not be removed:\n"));
    EXPECT_EQ((std::vector<std::string>{app + "\\sub\\deeper\\c.txt"}), removal.itemsLeft);
    EXPECT_EQ(3, RemovalExitCode(RemovalOutcome::Removed, removal));

    Removal again;
    again.list = removal.list;
    again.uninstallerPath = removal.uninstallerPath;
    ASSERT_TRUE(WriteBytes(app + "\\uninstall.ini", ToBytes("Removal Test\r\n")));
    ASSERT_TRUE(platform::WriteRegistryString(platform::RegistryRoot::LocalMachine, kKey, "UninstallString",
                                              "\"" + app + "\\u.exe\""));
    FakeRemovalView stopping;
    EXPECT_EQ(RemovalOutcome::Stopped, RemoveProduct(again, stopping));
    EXPECT_EQ(2, RemovalExitCode(RemovalOutcome::Stopped, again));
    EXPECT_TRUE(Exists(app + "\\uninstall.ini"));
    std::string value;
    EXPECT_TRUE(platform::ReadRegistryString(platform::RegistryRoot::LocalMachine, kKey, "UninstallString", &value));
}
#endif

TEST(RemovedText, NamesUpToFiveItemsThatStayed) {
    const std::vector<std::string> left = {"a", "b", "c", "d", "e", "f", "g"};
    EXPECT_EQ("P was removed, but these items could not be removed:\na\nb\nc\nd\ne\nand 2 more", RemovedText("P", left));
    EXPECT_EQ("P was removed, but these items could not be removed:\na", RemovedText("P", {"a"}));
}

}  // namespace
