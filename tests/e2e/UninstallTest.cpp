// Removing the example product with the uninstaller that build
// --uninstaller adds: through its registered command, with and without /S,
// with a file in use, and with a tampered list.

#include <algorithm>
#include <cstring>

#include "ExampleFixture.h"

using namespace e2e;
using namespace example;

namespace {

const std::string kCaption = std::string(kProduct) + " Uninstall";

std::string Unquoted(const std::string& text) {
    return text.size() >= 2 && text.front() == '"' && text.back() == '"' ? text.substr(1, text.size() - 2) : text;
}

class UninstallTest : public ExampleTest {
protected:
    void SetUp() override {
        ExampleTest::SetUp();
        folder_ = scratch_ + "\\Sample App";
    }

    // Installs the example silently into folder_, every shortcut with it.
    testing::AssertionResult Install() {
        const int exitCode = RunToEnd("sample-app", "/S /D=" + folder_);
        if (exitCode != 0) return testing::AssertionFailure() << "the installation ended with " << exitCode;
        return testing::AssertionSuccess();
    }

    std::string Registered(const std::string& name) {
        std::string text;
        return ReadRegistryText(HKEY_LOCAL_MACHINE, kUninstallKey, name, &text) ? text : "(none)";
    }

    // Starts the registered uninstaller with the arguments after its path.
    testing::AssertionResult StartUninstaller(const std::string& arguments = std::string()) {
        const std::string command = Registered("UninstallString");
        if (command == "(none)") return testing::AssertionFailure() << "no UninstallString";
        if (!uninstaller.Start(Unquoted(command), arguments)) return testing::AssertionFailure() << "cannot start " << command;
        return testing::AssertionSuccess();
    }

    // Answers the copy's confirmation; the box must not be the original's.
    testing::AssertionResult Confirm(int answer) {
        HWND box = WaitForDialogCaptioned(kCaption, IDYES);
        if (box == nullptr) return testing::AssertionFailure() << "no confirmation";
        if (MessageText(box) != "Do you want to remove Sample App and all of its components?") {
            return testing::AssertionFailure() << "confirmation reads: " << MessageText(box);
        }
        if (ProcessOf(box) == uninstaller.ProcessId()) return testing::AssertionFailure() << "asked by the original";
        Click(box, answer);
        return testing::AssertionSuccess();
    }

    // The copy's last box: its text, after OK.
    std::string LastBoxText() {
        HWND box = WaitForDialogCaptioned(kCaption, IDOK);
        if (box == nullptr) return "(no last box)";
        const std::string text = MessageText(box);
        Click(box, IDOK);
        return text;
    }

    int OriginalExitCode() {
        DWORD exitCode = 0;
        return uninstaller.WaitForExit(&exitCode) ? static_cast<int>(exitCode) : -1;
    }

    // What the installation placed and made, and is still there.
    std::vector<std::string> Remains() {
        std::vector<std::string> remains;
        std::vector<std::string> paths = ExampleShortcuts();
        for (const std::string& name : kPayload) paths.push_back(folder_ + "\\" + name);
        for (const char* name : {"\\uninstall.exe", "\\uninstall.ini", "\\docs", "\\data"}) paths.push_back(folder_ + name);
        paths.push_back(SpecialFolder(CSIDL_PROGRAMS) + "\\" + kProduct);
        for (const std::string& path : paths) {
            if (PathExists(path)) remains.push_back(path);
        }
        if (RegistryKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) remains.push_back("the entry");
        return remains;
    }

    // The copy removes the original's file once the original has ended.
    bool UninstallerGone() {
        return WaitUntil([&] { return !PathExists(folder_ + "\\uninstall.exe"); });
    }

    std::string folder_;
    Installer uninstaller;
};

TEST_F(UninstallTest, TheEntryDescribesTheProductAndYesRemovesAllButTheUsersFiles) {
    ASSERT_TRUE(Install());
    EXPECT_EQ(Registered("DisplayVersion"), "1.0");
    EXPECT_EQ(Registered("Publisher"), "KX Sample Software");
    EXPECT_EQ(Registered("DisplayIcon"), folder_ + "\\uninstall.exe");
    EXPECT_EQ(Registered("URLInfoAbout"), "https://example.com/sample-app");
    EXPECT_EQ(Registered("QuietUninstallString"), "\"" + folder_ + "\\uninstall.exe\" /S");
    EXPECT_EQ(Registered("InstallLocation"), folder_ + "\\");
    RegistryValue size;
    ASSERT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize", &size));
    EXPECT_EQ(size.type, static_cast<DWORD>(REG_DWORD));
    DWORD kilobytes = 0;
    memcpy(&kilobytes, size.data.data(), std::min<size_t>(sizeof kilobytes, size.data.size()));
    std::string uninstaller;
    ASSERT_TRUE(ReadFileBytes(folder_ + "\\uninstall.exe", &uninstaller));
    EXPECT_GE(kilobytes, uninstaller.size() / 1024);  // the uninstaller alone is as large
    // Four shortcuts and their group, three files, two folders, the
    // uninstaller, the list and the entry.
    ASSERT_EQ(Remains().size(), 13u);
    ASSERT_TRUE(WriteFileBytes(folder_ + "\\notes.txt", "the user's own"));

    ASSERT_TRUE(StartUninstaller());
    ASSERT_TRUE(Confirm(IDYES));
    EXPECT_EQ(OriginalExitCode(), 0);
    EXPECT_EQ(LastBoxText(), "Sample App was removed from your computer.");
    EXPECT_TRUE(UninstallerGone());
    EXPECT_EQ(Remains(), std::vector<std::string>());
    std::string notes;
    EXPECT_TRUE(ReadFileBytes(folder_ + "\\notes.txt", &notes) && notes == "the user's own");
}

TEST_F(UninstallTest, TheQuietCommandRemovesEverythingWithoutAWord) {
    ASSERT_TRUE(Install());
    const std::string quiet = Registered("QuietUninstallString");
    const std::string log = scratch_ + "\\uninstall.log";
    ASSERT_EQ(quiet.substr(quiet.size() - 3), " /S");
    ASSERT_TRUE(uninstaller.Start(Unquoted(quiet.substr(0, quiet.size() - 3)), "/S /LOG=\"" + log + "\""));
    EXPECT_EQ(OriginalExitCode(), 0);
    EXPECT_TRUE(UninstallerGone());
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(folder_); }));
    EXPECT_EQ(Remains(), std::vector<std::string>());
    std::string text;
    ASSERT_TRUE(ReadFileBytes(log, &text));
    EXPECT_NE(text.find(" copy of the uninstaller running for " + folder_ + "\\uninstall.exe\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" removed " + folder_ + "\\readme.txt\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" exit code 0\r\n"), std::string::npos) << text;
    // The copy ran from a new folder of an unguessable name.
    const std::string from = " continuing from " + TempFolder() + "kxuninst-";
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << text;
    const std::string name = text.substr(at + from.size(), text.find("\r\n", at) - at - from.size());
    EXPECT_EQ(name.size(), 16 + std::string("\\kxuninst.exe").size()) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz"), 16u) << name;
}

TEST_F(UninstallTest, NoRemovesNothing) {
    ASSERT_TRUE(Install());
    const std::vector<std::string> installed = Remains();
    ASSERT_TRUE(StartUninstaller());
    ASSERT_TRUE(Confirm(IDNO));
    EXPECT_EQ(OriginalExitCode(), 0);
    EXPECT_EQ(Remains(), installed);
}

TEST_F(UninstallTest, AFileInUseIsRetriedOrKeptAndNamed) {
    for (const int answer : {IDRETRY, IDIGNORE}) {
        SCOPED_TRACE(answer == IDRETRY ? "Retry" : "Ignore");
        ASSERT_TRUE(Install());
        const std::string held = folder_ + "\\docs\\manual.txt";
        HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(StartUninstaller());
        ASSERT_TRUE(Confirm(IDYES));
        HWND question = WaitForDialogCaptioned(kCaption, IDRETRY);
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(MessageText(question).find("The file " + held + " could not be removed:\n"), 0u) << MessageText(question);
        if (answer == IDRETRY) CloseHandle(file);
        Click(question, answer);
        if (answer == IDRETRY) {
            EXPECT_EQ(OriginalExitCode(), 0);
            EXPECT_EQ(LastBoxText(), "Sample App was removed from your computer.");
            EXPECT_EQ(Remains(), std::vector<std::string>());
        } else {
            EXPECT_EQ(OriginalExitCode(), 3);
            EXPECT_EQ(LastBoxText(), "Sample App was removed, but these items could not be removed:\n" + held);
            CloseHandle(file);
            EXPECT_EQ(Remains(), (std::vector<std::string>{held, folder_ + "\\docs"}));
        }
        EXPECT_TRUE(UninstallerGone());
        ASSERT_TRUE(RemoveTree(folder_));
    }
}

// Lines put into the list after the installation: a file beside the install
// folder, by its path and by a path that climbs out of the install folder.
TEST_F(UninstallTest, ATamperedListRemovesNothingOutsideTheInstallFolder) {
    ASSERT_TRUE(Install());
    const std::string outside = scratch_ + "\\outside.txt";
    ASSERT_TRUE(WriteFileBytes(outside, "not the product's"));
    std::string list;
    ASSERT_TRUE(ReadFileBytes(folder_ + "\\uninstall.ini", &list));
    const size_t afterProduct = list.find("\r\n") + 2;
    list.insert(afterProduct, outside + "\r\n" + folder_ + "\\..\\outside.txt\r\n");
    ASSERT_TRUE(WriteFileBytes(folder_ + "\\uninstall.ini", list));
    ASSERT_TRUE(StartUninstaller("/S"));
    EXPECT_EQ(OriginalExitCode(), 0);
    EXPECT_TRUE(UninstallerGone());
    EXPECT_TRUE(PathExists(outside));
    EXPECT_EQ(Remains(), std::vector<std::string>());
}

TEST_F(UninstallTest, AMissingListIsToldAndEndsWithExitCodeOne) {
    ASSERT_TRUE(Install());
    ASSERT_TRUE(DeleteFileA((folder_ + "\\uninstall.ini").c_str()));
    ASSERT_TRUE(StartUninstaller());
    HWND box = WaitForDialogCaptioned("Uninstall", IDOK);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageText(box), "The uninstall list " + folder_ + "\\uninstall.ini is missing or damaged, so Sample App "
                                "can't be removed automatically.");
    Click(box, IDOK);
    EXPECT_EQ(OriginalExitCode(), 1);
    EXPECT_TRUE(PathExists(folder_ + "\\readme.txt"));
}

}  // namespace
