#include <deque>

#include "TestSupport.h"
#include "text/TextEncoding.h"
#include "install/Installation.h"
#include "startup/PackageLoader.h"
#include "state/Workspace.h"
#include "common/ExitCodes.h"
#include "common/Rollback.h"

#include <map>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>

namespace {

// The worker's windows, without windows: answers questions from a script
// and remembers what it was told.
class FakeInstallView : public InstallView {
public:
    std::string folder;
    std::deque<OverwriteAnswer> answers;
    std::vector<std::string> questions;
    std::deque<FailureAnswer> failureAnswers;  // Abort once they run out
    std::vector<std::string> failures;
    std::function<void()> beforeFailureAnswer;  // what the user does meanwhile
    bool linksFail = false;
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
    FailureAnswer AskAboutFailure(const std::string& message) override {
        failures.push_back(message);
        if (beforeFailureAnswer) beforeFailureAnswer();
        if (failureAnswers.empty()) return FailureAnswer::Abort;
        const FailureAnswer answer = failureAnswers.front();
        failureAnswers.pop_front();
        return answer;
    }
    bool IsLocationTicked(int32_t location) override { return ticked[location]; }
    bool CreateShellLink(const std::string& target, const std::string& workingFolder,
                         const std::string& linkPath) override {
        if (linksFail) return false;
        links.push_back({target, workingFolder, linkPath});
        return true;
    }
    void NotifyFolderCreated(const std::string& created) override { notified.push_back(created); }
    std::vector<std::string> told;
    void Tell(const std::string& text) override { told.push_back(text); }
};

// A folder's names, sorted; empty when it does not exist.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<platform::FolderEntry> entries;
    std::vector<std::string> names;
    if (!platform::ListFolder(folder.c_str(), &entries)) return names;
    for (const auto& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start) + "<unterminated>");
    return lines;
}

// The reason line of the question about a failed file.
std::string ReasonIn(const std::string& question) {
    const size_t start = question.find(":\n");
    const size_t end = question.find("\n\n", start);
    return start == std::string::npos || end == std::string::npos ? "<none>" : question.substr(start + 2, end - start - 2);
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
        ReleaseArchiveCopy();  // one run's copy goes before the next run's
        ASSERT_EQ(CopyResult::Copied, CopyArchiveOut(state, Path("setup.exe"), ArchiveCopyPath(), CopyProgress()));
        ASSERT_TRUE(ExtractControlFolder(state, ArchiveCopyPath(), WorkspaceBase()));
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

TEST_F(InstallationTest, CancelInTheOverwriteQuestionPutsTheFolderBackAsItWas) {
    Load({FileItem("a.txt", "a"), FileItem("b.txt", "b"), FileItem("c.txt", "c")},
         {{"fileinfo.txt", "a.txt|%install path%\r\nb.txt|%install path%\r\nc.txt|%install path%\r\n////\r\n"},
          {"uninstall.txt", "%install path%\\a.txt"}});
    ASSERT_TRUE(platform::CreateFolder(target.c_str()));
    ASSERT_TRUE(WriteBytes(target + "/b.txt", ToBytes("old b")));
    view.answers = {OverwriteAnswer::Cancel};
    EXPECT_EQ(InstallOutcome::Aborted, RunInstallation(state, view));
    EXPECT_EQ(kExitCancelled, InstallExitCode(InstallOutcome::Aborted));
    EXPECT_EQ((std::vector<std::string>{"b.txt"}), Entries(target));  // a.txt, the list and the journal went
    EXPECT_EQ("old b", Installed("b.txt"));
    EXPECT_EQ((std::vector<std::string>{"The installation was cancelled. Nothing was changed."}), view.told);
}

TEST_F(InstallationTest, AConfirmedCancelStopsBeforeTheNextFile) {
    Load({FileItem("a.txt", "a"), FileItem("b.txt", "b")},
         {{"fileinfo.txt", "a.txt|%install path%\r\nb.txt|%install path%\r\n////\r\n"}});
    view.onStatus = [this] { state.cancelRequested = true; };
    EXPECT_EQ(InstallOutcome::Aborted, RunInstallation(state, view));
    EXPECT_EQ(1u, view.statuses.size());  // a.txt was placed, b.txt never started
    // The install folder was made by the run, and goes with it.
    EXPECT_FALSE(platform::PathExists(target.c_str()));
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
    Load({damaged, FileItem("b.txt", "b")},
         {{"fileinfo.txt", "a.txt|%install path%\r\nb.txt|%install path%\r\n////\r\n"},
          {"uninstall.txt", "%install path%\\u.exe"}});
    ASSERT_TRUE(platform::CreateFolder(target.c_str()));
    ASSERT_TRUE(WriteBytes(target + "/a.txt", ToBytes("good old contents")));
    view.answers = {OverwriteAnswer::Yes};
    view.failureAnswers = {FailureAnswer::Retry, FailureAnswer::Ignore};
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    EXPECT_EQ("good old contents", Installed("a.txt"));
    EXPECT_FALSE(platform::PathExists((target + "/a.txt.kxpart").c_str()));
    ASSERT_EQ(2u, view.failures.size());  // asked again after Retry
    EXPECT_EQ("The file " + target + "\\a.txt could not be installed:\nThe installer's copy of this file is damaged.\n\n"
              "Click Retry to try again, Ignore to skip this file, or Abort to stop the installation.",
              view.failures[0]);
    EXPECT_EQ((std::vector<std::string>{target + "\\a.txt"}), state.missingItems);
    EXPECT_EQ((std::vector<int32_t>{1, 2}), view.positions);  // the skipped file still counts
    const std::vector<std::string> list = UninstallList();
    ASSERT_EQ(5u, list.size());
    EXPECT_EQ(target + "\\b.txt", list[1]);  // a.txt is not listed
}

TEST_F(InstallationTest, AFileThatCannotBeReplacedIsAskedAboutAndRetried) {
    Load({FileItem("a.txt", "new a"), FileItem("b.txt", "new b")},
         {{"fileinfo.txt", "a.txt|%install path%\r\nb.txt|%install path%\r\n////\r\n"},
          {"uninstall.txt", "%install path%\\a.txt"}});
    ASSERT_TRUE(platform::CreateFolder(target.c_str()));
    const std::string old = target + "/a.txt";
    ASSERT_TRUE(WriteBytes(old, ToBytes("old a")));
    ASSERT_TRUE(platform::WriteAttributes(old.c_str(), platform::kAttributeReadOnly));
    view.answers = {OverwriteAnswer::Yes};
    view.failureAnswers = {FailureAnswer::Retry, FailureAnswer::Retry};
    // Between the questions the user clears the attribute, as they would
    // close the program holding the file.
    view.beforeFailureAnswer = [&] {
        EXPECT_EQ("old a", Installed("a.txt"));
        EXPECT_FALSE(platform::PathExists((old + ".kxpart").c_str()));
        if (view.failures.size() == 2) platform::WriteAttributes(old.c_str(), platform::kAttributeNormal);
    };
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    ASSERT_EQ(2u, view.failures.size());
    EXPECT_EQ(0u, view.failures[0].find("The file " + target + "\\a.txt could not be installed:\n"));
    EXPECT_NE("", ReasonIn(view.failures[0]));
    EXPECT_EQ(std::string::npos, view.failures[0].find("damaged"));
    EXPECT_EQ("new a", Installed("a.txt"));
    EXPECT_TRUE(state.missingItems.empty());
    const std::vector<std::string> list = UninstallList();
    EXPECT_EQ(target + "\\a.txt", list.at(1));
    EXPECT_EQ(target + "\\b.txt", list.at(2));
}

TEST_F(InstallationTest, AbortPutsTheFolderBackAsItWas) {
    Load({FileItem("a.txt", "a"), FileItem("b.txt", "b"), FileItem("c.txt", "c")},
         {{"fileinfo.txt", "a.txt|%install path%\r\nb.txt|%install path%\r\nc.txt|%install path%\r\n////\r\n"},
          {"uninstall.txt", "%install path%\\a.txt"}});
    ASSERT_TRUE(platform::CreateFolder(target.c_str()));
    // A folder where the file should go cannot be replaced by it.
    ASSERT_TRUE(platform::CreateFolder((target + "/b.txt").c_str()));
    view.answers = {OverwriteAnswer::Yes};
    // The list stays open for the run; what it holds on disk while the
    // question is open is what a run killed there would leave.
    std::vector<std::string> listWhileAsking;
    view.beforeFailureAnswer = [&] { listWhileAsking = UninstallList(); };
    EXPECT_EQ(InstallOutcome::Stopped, RunInstallation(state, view));
    EXPECT_EQ((std::vector<std::string>{"", target + "\\a.txt"}), listWhileAsking);
    EXPECT_EQ(1u, view.failures.size());
    EXPECT_EQ((std::vector<std::string>{"b.txt"}), Entries(target));  // the folder that was in the way
    EXPECT_EQ((std::vector<std::string>{"The installation was stopped. Nothing was changed."}), view.told);
}

// Each folder is tested once per run; one that goes away meanwhile fails
// the next file, and Retry makes it again.
TEST_F(InstallationTest, AFolderRemovedDuringTheRunIsMadeAgainOnRetry) {
    Load({FileItem("a.txt", "a"), FileItem("b.txt", "b")},
         {{"fileinfo.txt", "a.txt|%install path%\\sub\r\nb.txt|%install path%\\sub\r\n////\r\n"}});
    view.onStatus = [&] {
        if (view.statuses.back().find("b.txt") == std::string::npos) return;
        ASSERT_TRUE(platform::RemoveFile((target + "/sub/a.txt").c_str()));
        ASSERT_TRUE(platform::RemoveFolder((target + "/sub").c_str()));
    };
    view.failureAnswers = {FailureAnswer::Retry};
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    EXPECT_EQ(1u, view.failures.size());
    EXPECT_EQ("b", Installed("sub/b.txt"));
    EXPECT_TRUE(state.missingItems.empty());
}

TEST_F(InstallationTest, AFolderThatCannotBeCreatedIsReportedAndLongNamesStillFit) {
    // 259 characters: the longest line, and a partial name beside it would not fit.
    const std::string name = "a-long-name.txt";
    const std::string deep = Folder() + std::string(259 - Folder().size() - name.size() - 1, 'd');
    Load({FileItem("a.txt", "a"), FileItem(name, "long")},
         {{"fileinfo.txt", "a.txt|" + Folder() + "blocker\\sub\r\n" + name + "|" + deep + "\r\n////\r\n"}});
    ASSERT_TRUE(WriteBytes(Folder() + "blocker", ToBytes("a file, not a folder")));
    view.failureAnswers = {FailureAnswer::Ignore};
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    ASSERT_EQ(1u, view.failures.size());
    EXPECT_NE("", ReasonIn(view.failures[0]));
    EXPECT_EQ(std::string::npos, view.failures[0].find("damaged")) << view.failures[0];
    EXPECT_EQ((std::vector<std::string>{Folder() + "blocker\\sub\\a.txt"}), state.missingItems);
    EXPECT_EQ("long", ReadText(deep + "/" + name));
    std::vector<platform::FolderEntry> left;
    ASSERT_TRUE(platform::ListFolder(deep.c_str(), &left));
    EXPECT_EQ(1u, left.size());  // no partial file beside it
}

TEST_F(InstallationTest, UnicodeNamesArePlacedAndTheListTurnsUtf8OnlyWhenItMust) {
    const std::string mueller = "M\xC3\xBCller.txt";
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC.txt";
    ZipItem first = FileItem(mueller, "m");
    ZipItem second = FileItem(japanese, "j");
    first.flags = second.flags = 0x800;
    const std::string fileInfo = mueller + "|%install path%\r\n" + japanese + "|%install path%\r\n////\r\n";
    Load({first, second}, {{"macros.txt", kMacros}, {"fileinfo.txt", fileInfo}, {"uninstall.txt", "%install path%\\u.exe"}});
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    EXPECT_EQ("m", Installed(mueller));
    EXPECT_EQ("j", Installed(japanese));
    // The Japanese name has no place in the code page: the whole list,
    // the line written before it too, is UTF-8 with the mark.
    const std::string list = ReadText(target + "/uninstall.ini");
    const std::string start = std::string(kUtf8Mark) + "Sample App\r\n" + target + "\\" + mueller + "\r\n" + target +
                              "\\" + japanese + "\r\n";
    EXPECT_EQ(start, list.substr(0, start.size()));
    EXPECT_FALSE(platform::PathExists((target + "/uninstall.ini.kxpart").c_str()));
}

TEST_F(InstallationTest, AListThatFitsTheCodePageStaysInIt) {
    const std::string mueller = "M\xC3\xBCller.txt";
    ZipItem item = FileItem(mueller, "m");
    item.flags = 0x800;
    Load({item}, {{"fileinfo.txt", mueller + "|%install path%\r\n////\r\n"}, {"uninstall.txt", "%install path%\\u.exe"}});
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    const std::string start = "\r\n" + target + "\\M\xFCller.txt\r\n";
    EXPECT_EQ(start, ReadText(target + "/uninstall.ini").substr(0, start.size()));
}

// The registry of a standard user: writes under HKEY_LOCAL_MACHINE are
// refused, the rest reach the system's registry. In place while it lives.
class RefusingRegistry : public platform::RegistryWriter {
public:
    bool refuseCurrentUser = false;
    std::vector<platform::RegistryRoot> refused;

    RefusingRegistry() { platform::SetRegistryWriter(this); }
    ~RefusingRegistry() override { platform::SetRegistryWriter(nullptr); }

    bool WriteString(platform::RegistryRoot root, const std::string& subKey, const std::string& valueName,
                     const std::string& value) override {
        return Allowed(root) && platform::SystemRegistryWriter().WriteString(root, subKey, valueName, value);
    }
    bool WriteDword(platform::RegistryRoot root, const std::string& subKey, const std::string& valueName,
                    uint32_t value) override {
        return Allowed(root) && platform::SystemRegistryWriter().WriteDword(root, subKey, valueName, value);
    }

private:
    bool Allowed(platform::RegistryRoot root) {
        const bool allowed = root != platform::RegistryRoot::LocalMachine &&
                             !(refuseCurrentUser && root == platform::RegistryRoot::CurrentUser);
        if (!allowed) refused.push_back(root);
        return allowed;
    }
};

TEST_F(InstallationTest, WithoutRightsForAllUsersTheEntryIsWrittenForTheCurrentUser) {
    const std::vector<ZipItem> payload = {FileItem("u.exe", "uninstaller")};
    const std::vector<std::pair<std::string, std::string>> control = {
        {"macros.txt", kMacros}, {"fileinfo.txt", "u.exe|%install path%\r\n////\r\n"},
        {"uninstall.txt", "%install path%\\u.exe"}};
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample App";
    platform::DeleteRegistryKey(platform::RegistryRoot::LocalMachine, key);  // left by another test
    {
        Load(payload, control);
        RefusingRegistry registry;
        EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
        EXPECT_TRUE(state.missingItems.empty());
        std::string value;
        EXPECT_FALSE(platform::ReadRegistryString(platform::RegistryRoot::LocalMachine, key, "DisplayName", &value));
        const auto user = platform::RegistryRoot::CurrentUser;
        ASSERT_TRUE(platform::ReadRegistryString(user, key, "DisplayName", &value));
        EXPECT_EQ("Sample App (remove only)", value);
        ASSERT_TRUE(platform::ReadRegistryString(user, key, "UninstallString", &value));
        EXPECT_EQ("\"" + target + "\\u.exe\"", value);
        uint32_t flag = 0;
        EXPECT_TRUE(platform::ReadRegistryDword(user, key, "NoModify", &flag) && flag == 1);
        EXPECT_TRUE(platform::ReadRegistryDword(user, key, "NoRepair", &flag) && flag == 1);
        EXPECT_TRUE(platform::DeleteRegistryKey(user, key));
    }
    {
        InstallerState other;
        state.payloadItemCount = 0;
        Load(payload, control);
        other.payloadItemCount = state.payloadItemCount;
        other.macroTable = state.macroTable;
        RefusingRegistry registry;
        registry.refuseCurrentUser = true;
        view.answers = {OverwriteAnswer::Yes};
        const std::vector<std::string> firstList = UninstallList();
        // Refused for everyone: the run is undone, the first run's files stay.
        EXPECT_EQ(InstallOutcome::Stopped, RunInstallation(other, view));
        EXPECT_EQ(platform::RegistryRoot::CurrentUser, registry.refused.back());
        EXPECT_EQ((std::vector<std::string>{"u.exe", "uninstall.ini"}), Entries(target));
        EXPECT_EQ(firstList, UninstallList());
        std::vector<platform::RegistryValue> values;
        bool exists = true;
        ASSERT_TRUE(platform::ReadRegistryValues(platform::RegistryRoot::CurrentUser, key, &values, &exists));
        EXPECT_FALSE(exists);
        ASSERT_TRUE(platform::ReadRegistryValues(platform::RegistryRoot::LocalMachine, key, &values, &exists));
        EXPECT_FALSE(exists);
    }
}

TEST_F(InstallationTest, TheEntryTellsLocationSizeAndThePackagesOwnDetails) {
    Load({FileItem("u.exe", std::string(2049, 'u')), FileItem("one.txt", "1")},
         {{"macros.txt", kMacros},
          {"fileinfo.txt", "u.exe|%install path%\r\none.txt|%install path%\r\n////\r\n"},
          {"uninstall.txt", "%install path%\\u.exe"},
          {"uninstall_info.txt", "%name% 1.0\r\n\r\n%install path%\\u.exe\r\n"}});
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample App";
    const auto machine = platform::RegistryRoot::LocalMachine;
    platform::DeleteRegistryKey(machine, key);
    ASSERT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    std::string value;
    uint32_t kilobytes = 0;
    EXPECT_TRUE(platform::ReadRegistryString(machine, key, "InstallLocation", &value) && value == target + "\\") << value;
    EXPECT_TRUE(platform::ReadRegistryDword(machine, key, "EstimatedSize", &kilobytes));
    EXPECT_EQ(3u, kilobytes);  // 2,050 bytes, rounded up
    EXPECT_TRUE(platform::ReadRegistryString(machine, key, "DisplayVersion", &value) && value == "Sample App 1.0");
    EXPECT_TRUE(platform::ReadRegistryString(machine, key, "DisplayIcon", &value) && value == target + "\\u.exe");
    // Empty and missing lines write nothing.
    for (const char* name : {"Publisher", "URLInfoAbout", "QuietUninstallString"}) {
        EXPECT_FALSE(platform::ReadRegistryString(machine, key, name, &value)) << name;
    }
    platform::DeleteRegistryKey(machine, key);
}

TEST_F(InstallationTest, AShortcutThatCannotBeSavedIsNamedAndNotListed) {
    Load({}, {{"macros.txt", kMacros},
              {"shortcuts.txt", "%name%\r\nReadme\r\nC:\\app.txt\r\n1\r\n////\r\n////\r\n////\r\n////\r\n"},
              {"uninstall.txt", "%install path%\\u.exe"}});
    view.linksFail = true;
    EXPECT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    const std::string group = platform::GetSpecialFolderPath(platform::kFolderPrograms) + "\\Sample App";
    EXPECT_EQ((std::vector<std::string>{"the shortcut " + group + "\\Readme.lnk"}), state.missingItems);
    const std::vector<std::string> list = UninstallList();
    EXPECT_EQ((std::vector<std::string>{"Sample App", group, target + "\\uninstall.ini", target + "\\", "||||"}), list);
    platform::RemoveFolder(group.c_str());
    platform::DeleteRegistryKey(platform::RegistryRoot::LocalMachine,
                                "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample App");
}

// A package with a scope registers under its scope's root only: a machine
// install that cannot write HKEY_LOCAL_MACHINE is not passed off as the
// user's own. Its shortcuts go to the common folders, Quick Launch staying
// the user's, and the list records the scope.
TEST_F(InstallationTest, AMachineInstallRegistersForEveryUserOrNotAtAll) {
    Load({}, {{"macros.txt", kMacros},
              {"shortcuts.txt", "%name%\r\nReadme\r\nC:\\app.txt\r\n1\r\n\r\nDesk\r\nC:\\app.txt\r\n0\r\n"
                                "\r\nQuick\r\nC:\\app.txt\r\n2\r\n////\r\n////\r\n////\r\n////\r\n"},
              {"uninstall.txt", "%install path%\\u.exe"}});
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample App";
    platform::DeleteRegistryKey(platform::RegistryRoot::CurrentUser, key);
    state.scope = Scope::Machine;
    RefusingRegistry registry;
    std::vector<std::string> list;  // as it stands while the shortcuts are made
    view.onStatus = [&] { list = UninstallList(); };
    // Without the entry the run is undone: no fall-back to this user's.
    ASSERT_EQ(InstallOutcome::Stopped, RunInstallation(state, view));
    EXPECT_EQ((std::vector<platform::RegistryRoot>{platform::RegistryRoot::LocalMachine}), registry.refused);
    std::string value;
    EXPECT_FALSE(platform::ReadRegistryString(platform::RegistryRoot::CurrentUser, key, "UninstallString", &value));
    const std::string group = platform::GetSpecialFolderPath(platform::kFolderCommonPrograms) + "\\Sample App";
    ASSERT_EQ(3u, view.links.size());
    EXPECT_EQ(group + "\\Readme.lnk", view.links[0].path);
    EXPECT_EQ(platform::GetSpecialFolderPath(platform::kFolderCommonDesktopDirectory) + "\\Desk.lnk", view.links[1].path);
    EXPECT_EQ(platform::GetSpecialFolderPath(platform::kFolderAppData) +
                  "\\Microsoft\\Internet Explorer\\Quick Launch\\Quick.lnk",
              view.links[2].path);
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ("scope=machine", list[1]);
    EXPECT_FALSE(platform::PathExists(target.c_str()));
    platform::RemoveFolder(group.c_str());
}

TEST(InstallingStatus, LongDestinationsKeepTheirFileNameWithin259Characters) {
    EXPECT_EQ("Installing\nC:\\a.txt...", InstallingStatus("C:\\a.txt"));
    const std::string longPath = "C:\\" + std::string(400, 'd') + "\\file-name.txt";
    const std::string status = InstallingStatus(longPath);
    EXPECT_EQ(259u, status.size());
    EXPECT_EQ("Installing\nC:\\", status.substr(0, 14));
    EXPECT_NE(std::string::npos, status.find("\\file-name.txt..."));
}

// --- upgrades ---

// Every file below folder, by its path inside it, with its bytes and attributes.
std::map<std::string, std::string> Tree(const std::string& folder, const std::string& inside = "") {
    std::map<std::string, std::string> tree;
    std::vector<platform::FolderEntry> entries;
    if (!platform::ListFolder((folder + inside).c_str(), &entries)) return tree;
    for (const auto& entry : entries) {
        const std::string name = inside + "/" + entry.name;
        const uint32_t attributes = platform::ReadAttributes((folder + name).c_str());
        if (entry.attributes & platform::kAttributeDirectory) {
            tree[name + "/"] = "";
            for (const auto& below : Tree(folder, name)) tree.insert(below);
        } else {
            tree[name] = ReadText(folder + name) + " attributes " + std::to_string(attributes);
        }
    }
    return tree;
}

const char kUpgradeKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample App";

std::vector<platform::RegistryValue> EntryValues(platform::RegistryRoot root) {
    std::vector<platform::RegistryValue> values;
    bool exists = false;
    EXPECT_TRUE(platform::ReadRegistryValues(root, kUpgradeKey, &values, &exists));
    return values;
}

bool SameValues(const std::vector<platform::RegistryValue>& a, const std::vector<platform::RegistryValue>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].data != b[i].data) return false;
    }
    return true;
}

// Version 1 places a.txt, b.txt and the uninstaller; version 2 replaces
// a.txt and the uninstaller, adds c.txt and no longer ships b.txt.
class UpgradeTest : public InstallationTest {
protected:
    void SetUp() override {
        InstallationTest::SetUp();
        (void)platform::DeleteRegistryKey(platform::RegistryRoot::LocalMachine, kUpgradeKey);
        (void)platform::DeleteRegistryKey(platform::RegistryRoot::CurrentUser, kUpgradeKey);
    }
    void TearDown() override {
        (void)platform::DeleteRegistryKey(platform::RegistryRoot::LocalMachine, kUpgradeKey);
        (void)platform::DeleteRegistryKey(platform::RegistryRoot::CurrentUser, kUpgradeKey);
        InstallationTest::TearDown();
    }
    void InstallVersion1() {
        Load({FileItem("a.txt", "a 1"), FileItem("b.txt", "b 1"), FileItem("u.exe", "u 1")},
             {{"macros.txt", kMacros},
              {"fileinfo.txt", "a.txt|%install path%\r\nb.txt|%install path%\r\nu.exe|%install path%\r\n////\r\n"},
              {"uninstall.txt", "%install path%\\u.exe"},
              {"uninstall_info.txt", "1.0\r\nMaker\r\n"}});
        ASSERT_EQ(InstallOutcome::Finished, RunInstallation(state, view));
    }
    void LoadVersion2(InstallerState& into) {
        Load({FileItem("a.txt", "a 2"), FileItem("c.txt", "c 2"), FileItem("u.exe", "u 2")},
             {{"macros.txt", kMacros},
              {"fileinfo.txt", "a.txt|%install path%\r\nc.txt|%install path%\r\nu.exe|%install path%\r\n////\r\n"},
              {"uninstall.txt", "%install path%\\u.exe"},
              {"uninstall_info.txt", "2.0\r\nMaker\r\n"}});
        into.payloadItemCount = state.payloadItemCount;
        into.macroTable = state.macroTable;
        view.answers = {OverwriteAnswer::Yes, OverwriteAnswer::Yes};
        view.told.clear();
    }
};

TEST_F(UpgradeTest, TheNewListKeepsWhatTheEarlierVersionPlacedAndStillExists) {
    InstallVersion1();
    InstallerState version2;
    LoadVersion2(version2);
    ASSERT_EQ(InstallOutcome::Finished, RunInstallation(version2, view));
    EXPECT_EQ("a 2", Installed("a.txt"));
    EXPECT_EQ((std::vector<std::string>{"Sample App", target + "\\a.txt", target + "\\c.txt", target + "\\u.exe",
                                        target + "\\b.txt", target + "\\uninstall.ini", target + "\\", "||||"}),
              UninstallList());
    EXPECT_FALSE(platform::PathExists(JournalPathIn(target).c_str()));
    EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt", "c.txt", "u.exe", "uninstall.ini"}), Entries(target));

    // A line whose file is gone is not carried again.
    ASSERT_TRUE(platform::RemoveFile((target + "/b.txt").c_str()));
    InstallerState again;
    LoadVersion2(again);
    view.answers = {OverwriteAnswer::Yes, OverwriteAnswer::Yes, OverwriteAnswer::Yes};
    ASSERT_EQ(InstallOutcome::Finished, RunInstallation(again, view));
    EXPECT_EQ((std::vector<std::string>{"Sample App", target + "\\a.txt", target + "\\c.txt", target + "\\u.exe",
                                        target + "\\uninstall.ini", target + "\\", "||||"}),
              UninstallList());
}

TEST_F(UpgradeTest, AnUpgradeThatCannotRegisterPutsBackEveryFileTheListAndTheEntry) {
    InstallVersion1();
    ASSERT_TRUE(platform::WriteAttributes((target + "/a.txt").c_str(), platform::kAttributeHidden));
    const auto before = Tree(target);
    const auto machineBefore = EntryValues(platform::RegistryRoot::LocalMachine);
    ASSERT_FALSE(machineBefore.empty());
    InstallerState version2;
    LoadVersion2(version2);
    {
        RefusingRegistry registry;
        registry.refuseCurrentUser = true;
        EXPECT_EQ(InstallOutcome::Stopped, RunInstallation(version2, view));
    }
    EXPECT_EQ(before, Tree(target));
    EXPECT_TRUE(SameValues(machineBefore, EntryValues(platform::RegistryRoot::LocalMachine)));
    EXPECT_TRUE(EntryValues(platform::RegistryRoot::CurrentUser).empty());
    EXPECT_EQ((std::vector<std::string>{"The installation was stopped. Nothing was changed."}), view.told);
}

#ifndef _WIN32
// A child process stands for the installer and ends at once, as a killed
// one does, at each moment of version 2's placement in turn.
TEST_F(UpgradeTest, ARunKilledAnywhereInItsPlacementIsUndoneByTheNextStart) {
    InstallVersion1();
    const auto before = Tree(target);
    for (int killAt = 1; killAt <= 3; ++killAt) {
        const pid_t child = fork();
        ASSERT_NE(-1, child);
        if (child == 0) {
            InstallerState version2;
            LoadVersion2(version2);
            int statuses = 0;
            view.onStatus = [&] {
                if (++statuses == killAt) _exit(0);
            };
            (void)RunInstallation(version2, view);
            _exit(1);
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << killAt;
        EXPECT_TRUE(platform::PathExists(JournalPathIn(target).c_str())) << killAt;
        std::vector<std::string> log;
        EXPECT_EQ(EarlierRun::PutBack, RecoverEarlierRun(target, &log)) << killAt;
        EXPECT_EQ(before, Tree(target)) << killAt;
    }
}
#endif

}  // namespace
