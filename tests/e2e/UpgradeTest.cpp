// Version 2 of the example over version 1 (see run_e2e.sh): it starts in
// version 1's folder, its list covers both versions, and a run that does not
// complete, or is killed, leaves version 1 exactly as it was.

#include <cstdio>
#include <map>

#include "ExampleFixture.h"
#include "platform/WideText.h"

using namespace example;

namespace {

constexpr char kTitle2[] = "Sample App 2.0 Setup";
constexpr char kCancelled[] = "The installation was cancelled. Nothing was changed.";
constexpr char kStopped[] = "The installation was stopped. Nothing was changed.";
constexpr char kCancelQuestion[] = "Are you sure you wish to cancel the installation?";
constexpr DWORD kExitCancelled = 5;
constexpr int kManyFiles = 2000;

// What a path holds: attributes and times, and the bytes of a file; folders
// by attributes alone, as adding and removing entries moves their times.
using Snapshot = std::map<std::string, std::string>;

std::string TimeText(const FILETIME& time) {
    return std::to_string((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

std::string FileState(const WIN32_FIND_DATAW& found, const std::string& path) {
    std::string bytes;
    (void)ReadFileBytes(path, &bytes);
    return "attributes " + std::to_string(found.dwFileAttributes) + " made " + TimeText(found.ftCreationTime) +
           " written " + TimeText(found.ftLastWriteTime) + " bytes " + bytes;
}

void AddFile(const std::string& path, Snapshot* snapshot) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(Widen(path).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    FindClose(find);
    (*snapshot)[path] = FileState(found, path);
}

void AddTree(const std::string& path, Snapshot* snapshot) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(Widen(path + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = Narrow(found.cFileName);
        if (name == "." || name == "..") continue;
        const std::string full = path + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*snapshot)[full] = "attributes " + std::to_string(found.dwFileAttributes);
            AddTree(full, snapshot);
            continue;
        }
        (*snapshot)[full] = FileState(found, full);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

void AddRegistryKey(HKEY root, const std::string& name, Snapshot* snapshot) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, Widen(kUninstallKey).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[512];
        BYTE data[8192];
        DWORD nameLength = 512, size = sizeof data, type = 0;
        if (RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        (*snapshot)[name + "\\" + Narrow(valueName)] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    }
    RegCloseKey(key);
}

// The first few paths on which two snapshots differ; empty when they agree.
std::string Differences(const Snapshot& expected, const Snapshot& actual) {
    std::string text;
    int shown = 0;
    auto note = [&](const std::string& path, const char* what) {
        if (shown++ < 8) text += std::string(what) + " " + path + "\n";
    };
    for (const auto& entry : expected) {
        const auto found = actual.find(entry.first);
        if (found == actual.end()) note(entry.first, "missing");
        else if (found->second != entry.second) note(entry.first, "changed");
    }
    for (const auto& entry : actual) {
        if (expected.count(entry.first) == 0) note(entry.first, "added");
    }
    return shown > 8 ? text + "and " + std::to_string(shown - 8) + " more\n" : text;
}

class UpgradeTest : public ExampleTest {
protected:
    void SetUp() override {
        ExampleTest::SetUp();
        folder_ = scratch_ + "\\Sample App";
    }

    void TearDown() override {
        ExampleTest::TearDown();
        (void)RemoveTree("C:\\Program Files\\Sample App 2");  // where a failure might have put version 2
    }

    testing::AssertionResult InstallVersion1() {
        const int exitCode = RunToEnd("upgrade-v1", "/S /D=" + folder_);
        if (exitCode != 0) return testing::AssertionFailure() << "version 1 ended with " << exitCode;
        return testing::AssertionSuccess();
    }

    // The folder, the shortcuts and the entry under both roots.
    Snapshot TakeSnapshot() {
        Snapshot snapshot;
        AddTree(folder_, &snapshot);
        // The links themselves: under Wine the desktop is the home folder.
        for (const std::string& link : ExampleShortcuts()) AddFile(link, &snapshot);
        AddTree(SpecialFolder(CSIDL_PROGRAMS) + "\\" + kProduct, &snapshot);
        AddRegistryKey(HKEY_LOCAL_MACHINE, "HKLM", &snapshot);
        AddRegistryKey(HKEY_CURRENT_USER, "HKCU", &snapshot);
        return snapshot;
    }

    // Walks version 2's wizard to Install in the folder it proposes, and
    // clicks it unless told not to.
    HWND StartVersion2Wizard(bool install = true) {
        HWND wizard = OpenWizard("upgrade-v2");
        if (wizard == nullptr) return nullptr;
        testing::AssertionResult walked = ShowsPage(wizard, page::kWelcome, kTitle2);
        if (walked) walked = NextTo(wizard, page::kLicense);
        if (walked) walked = NextTo(wizard, page::kFolder);
        if (walked && ControlText(wizard, ctl::kFolder) != folder_) {
            walked = testing::AssertionFailure() << "the folder page proposes " << ControlText(wizard, ctl::kFolder);
        }
        if (walked) walked = NextTo(wizard, page::kShortcuts);
        if (walked) walked = NextTo(wizard, page::kSummary);
        if (!walked) {
            ADD_FAILURE() << walked.message();
            return nullptr;
        }
        if (install) Click(wizard, ctl::kNext);  // "Install"
        return wizard;
    }

    testing::AssertionResult NextTo(HWND wizard, const char* pageName) {
        Click(wizard, ctl::kNext);
        return ShowsPage(wizard, pageName, kTitle2);
    }

    // The next message box of the installer, answered; false when none comes
    // or it reads otherwise.
    testing::AssertionResult Answer(const std::string& text, int button) {
        HWND box = WaitForMessageBox();
        if (box == nullptr) return testing::AssertionFailure() << "no box; expected: " << text;
        if (MessageText(box) != text) return testing::AssertionFailure() << "the box reads: " << MessageText(box);
        Click(box, button);
        if (!WaitUntil([&] { return !IsWindow(box); })) return testing::AssertionFailure() << "the box stays";
        return testing::AssertionSuccess();
    }

    std::string folder_;
};

TEST_F(UpgradeTest, Version2StartsInVersion1sFolderAndItsUninstallerRemovesBothVersions) {
    ASSERT_TRUE(InstallVersion1());
    ASSERT_NE(StartVersion2Wizard(false), nullptr);  // checks the proposed folder
    installer.Kill();
    ASSERT_TRUE(WaitUntil([&] { return installer.HasExited(); }));
    ASSERT_TRUE(RemoveWorkspaces());

    ASSERT_EQ(RunToEnd("upgrade-v2", "/S"), 0);
    std::string added;
    ASSERT_TRUE(ReadFileBytes(folder_ + "\\added.txt", &added));
    EXPECT_EQ(added, "new in version 2\n");
    std::string list;
    ASSERT_TRUE(ReadFileBytes(folder_ + "\\uninstall.ini", &list));
    EXPECT_NE(list.find(folder_ + "\\dropped.txt\r\n" + folder_ + "\\uninstall.ini\r\n"), std::string::npos)
        << "version 1's dropped.txt is not carried before the closing lines";
    EXPECT_FALSE(PathExists(folder_ + "\\kxinstall.journal"));

    EXPECT_FALSE(PathExists("C:\\Program Files\\Sample App 2"));
    Installer uninstaller;
    ASSERT_TRUE(uninstaller.Start(folder_ + "\\uninstall.exe", "/S"));
    DWORD exitCode = 99;
    ASSERT_TRUE(uninstaller.WaitForExit(&exitCode, 4 * kWaitMs));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(folder_); }, 2 * kWaitMs)) << folder_ << " stays";
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
}

// Cancel while the noise is placed, Cancel in the question about the
// second file, and Abort after a file that cannot be replaced.
TEST_F(UpgradeTest, EveryWayOfEndingVersion2EarlyLeavesVersion1ExactlyAsItWas) {
    ASSERT_TRUE(InstallVersion1());
    const Snapshot before = TakeSnapshot();
    const std::string readmeQuestion = "The file named readme.txt already exists at the selected location.\n"
                                       "Do you wish to replace it?";
    {
        SCOPED_TRACE("a confirmed cancel");
        HWND wizard = StartVersion2Wizard();
        ASSERT_NE(wizard, nullptr);
        ASSERT_TRUE(Answer(readmeQuestion, IDYES));
        ASSERT_TRUE(WaitUntil([&] { return PathExists(folder_ + "\\data\\noise.bin"); }));
        Click(wizard, ctl::kCancel);
        ASSERT_TRUE(Answer(kCancelQuestion, IDYES));
        ASSERT_TRUE(Answer(kCancelled, IDOK));
        EXPECT_TRUE(EndsCleanly(kExitCancelled));
        EXPECT_EQ(Differences(before, TakeSnapshot()), "");
    }
    {
        SCOPED_TRACE("Cancel in the overwrite question");
        ASSERT_NE(StartVersion2Wizard(), nullptr);
        ASSERT_TRUE(Answer(readmeQuestion, IDYES));
        ASSERT_TRUE(Answer("The file named docs\\manual.txt already exists at the selected location.\n"
                           "Do you wish to replace it?",
                           IDCANCEL));
        ASSERT_TRUE(Answer(kCancelled, IDOK));
        EXPECT_TRUE(EndsCleanly(kExitCancelled));
        EXPECT_EQ(Differences(before, TakeSnapshot()), "");
    }
    {
        SCOPED_TRACE("Abort");
        // Held open without sharing: it cannot be renamed aside.
        HANDLE held = CreateFileW(Widen(folder_ + "\\docs\\manual.txt").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        ASSERT_NE(StartVersion2Wizard(), nullptr);
        ASSERT_TRUE(Answer(readmeQuestion, IDYES));
        ASSERT_TRUE(Answer("The file named docs\\manual.txt already exists at the selected location.\n"
                           "Do you wish to replace it?",
                           IDYES));
        HWND failure = WaitForMessageBox();
        ASSERT_NE(failure, nullptr);
        EXPECT_EQ(MessageText(failure).find("The file " + folder_ + "\\docs\\manual.txt could not be installed:"), 0u)
            << MessageText(failure);
        Click(failure, IDABORT);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(failure); }));
        ASSERT_TRUE(Answer(kStopped, IDOK));
        CloseHandle(held);
        EXPECT_TRUE(EndsCleanly(2));
        EXPECT_EQ(Differences(before, TakeSnapshot()), "");
    }
}

// Version 2 under /S is killed at moments spread over its placement, told
// by how far its journal has grown; each time the next start puts version 1
// back before it changes anything, and says so.
TEST_F(UpgradeTest, AKilledVersion2IsPutBackByTheNextStart) {
    ASSERT_TRUE(InstallVersion1());
    const Snapshot before = TakeSnapshot();
    const std::string journal = folder_ + "\\kxinstall.journal";
    const std::string earlierRunText =
        "An earlier installation into " + folder_ + " did not finish. What it changed has been put back.";
    // A record per small file names it twice, as it is and aside.
    const size_t fullJournal = kManyFiles * (2 * (folder_.size() + 16) + sizeof ".kxkeep" + 22);
    constexpr int kKills = 12;
    int putBack = 0;
    for (int kill = 1; kill <= kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const size_t killAt = fullJournal * kill / (kKills + 1);
        const std::string logPath = scratch_ + "\\kill.log";
        ASSERT_TRUE(Start("upgrade-v2", "/S /LOG=\"" + logPath + "\""));
        WIN32_FILE_ATTRIBUTE_DATA data;
        auto journalSize = [&] {
            if (!GetFileAttributesExW(Widen(journal).c_str(), GetFileExInfoStandard, &data)) return size_t{0};
            return static_cast<size_t>(data.nFileSizeLow);
        };
        ASSERT_TRUE(WaitUntil([&] { return journalSize() >= killAt || installer.HasExited(); }, 4 * kWaitMs, 1));
        std::string log;
        (void)ReadFileBytes(logPath, &log);
        ASSERT_FALSE(installer.HasExited()) << "version 2 finished before the kill:\n" << log;
        installer.Kill();
        ASSERT_TRUE(WaitUntil([&] { return installer.HasExited(); }));
        ASSERT_TRUE(RemoveWorkspaces());
        ASSERT_TRUE(PathExists(journal));

        ASSERT_NE(StartVersion2Wizard(), nullptr);
        HWND box = WaitForMessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageText(box), earlierRunText);
        const std::string differences = Differences(before, TakeSnapshot());
        EXPECT_EQ(differences, "");
        if (differences.empty() && MessageText(box) == earlierRunText) ++putBack;
        installer.Kill();
        ASSERT_TRUE(WaitUntil([&] { return installer.HasExited(); }));
        ASSERT_TRUE(RemoveWorkspaces());
    }
    std::printf("killed runs: %d, after which version 1 came back exactly: %d\n", kKills, putBack);
}

}  // namespace
