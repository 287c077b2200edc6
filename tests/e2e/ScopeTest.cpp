// Who the example is installed for: scope.txt's user, machine and either,
// the /ALLUSERS and /CURRENTUSER switches, and the run that starts again
// elevated. Wine runs every process with full rights, so the rights the
// installer sees come from its test seam, KXINSTALL_TEST_RIGHTS: "limited"
// (a user without administrator rights), "standard" (an administrator not
// yet elevated) or "refused" (one who refuses the prompt).

#include "ExampleFixture.h"

using namespace e2e;
using namespace example;

namespace {

const std::string kTitle = "Sample App 1.0 Setup";
const std::string kStarted = " KXInstall 0.1 started: ";
const std::string kRelaunch = " starting again with administrator rights: ";

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class ScopeTest : public ExampleTest {
protected:
    void SetUp() override {
        ExampleTest::SetUp();
        userFolder_ = SpecialFolder(CSIDL_LOCAL_APPDATA) + "\\Programs\\" + kProduct;
        machineFolder_ = SpecialFolder(CSIDL_PROGRAM_FILES) + "\\" + kProduct;
        log_ = scratch_ + "\\setup.log";
        RemoveScopeTraces();
    }
    void TearDown() override {
        SetEnvironmentVariableA("KXINSTALL_TEST_RIGHTS", nullptr);
        EndProcessesCaptioned(kTitle + " - Shortcuts");  // a run that the folder page started
        ExampleTest::TearDown();
        RemoveScopeTraces();
    }
    void RemoveScopeTraces() {
        for (const std::string& link : CommonShortcuts()) (void)DeleteFileA(link.c_str());
        (void)RemoveTree(SpecialFolder(CSIDL_COMMON_PROGRAMS) + "\\" + kProduct);
        (void)RemoveTree(userFolder_);
        (void)RemoveTree(machineFolder_);
    }
    static void Rights(const char* answer) { SetEnvironmentVariableA("KXINSTALL_TEST_RIGHTS", answer); }

    static std::vector<std::string> CommonShortcuts() {
        const std::string group = SpecialFolder(CSIDL_COMMON_PROGRAMS) + "\\" + kProduct;
        return {group + "\\Readme.lnk", group + "\\User Manual.lnk",
                SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\Sample App Readme.lnk"};
    }
    static std::vector<std::string> Existing(const std::vector<std::string>& paths) {
        std::vector<std::string> found;
        for (const std::string& path : paths) {
            if (PathExists(path)) found.push_back(path);
        }
        return found;
    }
    std::string Log() {
        std::string text;
        return ReadFileBytes(log_, &text) ? text : "(no log)";
    }
    static std::string Entry(HKEY root) {
        std::string text;
        return ReadRegistryText(root, kUninstallKey, "UninstallString", &text) ? text : "(none)";
    }
    // Runs the uninstaller the entry under root names, silently, to its end.
    int Uninstall(HKEY root, const std::string& log) {
        std::string command = Entry(root);
        if (command.size() < 2) return -1;
        Installer uninstaller;
        if (!uninstaller.Start(command.substr(1, command.size() - 2), "/S /LOG=\"" + log + "\"")) return -1;
        DWORD exitCode = 0;
        return uninstaller.WaitForExit(&exitCode) ? static_cast<int>(exitCode) : -1;
    }

    std::string userFolder_;
    std::string machineFolder_;
    std::string log_;
};

// A user without rights installs into their own programs folder; the entry
// is theirs, the shortcuts too, no second process starts, and the
// uninstaller removes it all without asking for rights.
TEST_F(ScopeTest, UserInstallsForTheUserAloneAndItsUninstallerRemovesItAll) {
    Rights("limited");
    ASSERT_EQ(RunToEnd("sample-app-user", "/S /LOG=" + log_), 0) << Log();
    for (const std::string& name : kPayload) EXPECT_TRUE(SameContent(userFolder_ + "\\" + name, SourceFile(name))) << name;
    EXPECT_EQ(Entry(HKEY_CURRENT_USER), "\"" + userFolder_ + "\\uninstall.exe\"");
    EXPECT_EQ(Entry(HKEY_LOCAL_MACHINE), "(none)");
    std::string version;
    EXPECT_TRUE(ReadRegistryText(HKEY_CURRENT_USER, kUninstallKey, "DisplayVersion", &version) && version == "1.0");
    EXPECT_EQ(Existing(ExampleShortcuts()), ExampleShortcuts());
    EXPECT_TRUE(Existing(CommonShortcuts()).empty());
    std::string list;
    ASSERT_TRUE(ReadFileBytes(userFolder_ + "\\uninstall.ini", &list));
    EXPECT_EQ(list.substr(0, list.find("\r\n", list.find("\r\n") + 2)), std::string(kProduct) + "\r\nscope=user");
    const std::string text = Log();
    EXPECT_EQ(Count(text, kStarted), 1u) << text;
    EXPECT_EQ(Count(text, kRelaunch), 0u) << text;
    EXPECT_NE(text.find(" scope: user\r\n"), std::string::npos) << text;

    const std::string removal = scratch_ + "\\uninstall.log";
    EXPECT_EQ(Uninstall(HKEY_CURRENT_USER, removal), 0);
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(userFolder_); })) << userFolder_;
    EXPECT_TRUE(Existing(ExampleShortcuts()).empty());
    EXPECT_FALSE(PathExists(SpecialFolder(CSIDL_PROGRAMS) + "\\" + kProduct));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kUninstallKey));
    std::string removalText;
    ASSERT_TRUE(ReadFileBytes(removal, &removalText));
    EXPECT_EQ(Count(removalText, kRelaunch), 0u) << removalText;
}

// An administrator not yet elevated: the first process starts a second one
// elevated with the same command line, and ends with its exit code. The
// entry is for every user, and so are the shortcuts, Quick Launch aside.
TEST_F(ScopeTest, MachineStartsAgainElevatedAndInstallsForEveryUser) {
    Rights("standard");
    const std::string folder = scratch_ + "\\Everyone";
    const std::string arguments = "/S /LOG=" + log_ + " /D=" + folder;
    ASSERT_EQ(RunToEnd("sample-app-machine", arguments), 0) << Log();
    EXPECT_FALSE(sawWindow_);
    std::string text = Log();
    EXPECT_EQ(Count(text, kStarted), 2u) << text;
    EXPECT_NE(text.find(kRelaunch + "/KXELEVATED " + arguments + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" command line: /KXELEVATED " + arguments + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" the run with administrator rights ended with exit code 0\r\n"), std::string::npos) << text;
    for (const std::string& name : kPayload) EXPECT_TRUE(SameContent(folder + "\\" + name, SourceFile(name))) << name;
    EXPECT_EQ(Entry(HKEY_LOCAL_MACHINE), "\"" + folder + "\\uninstall.exe\"");
    EXPECT_EQ(Entry(HKEY_CURRENT_USER), "(none)");
    EXPECT_EQ(Existing(CommonShortcuts()), CommonShortcuts());
    EXPECT_EQ(Existing(ExampleShortcuts()), std::vector<std::string>{QuickLaunchFolder() + "\\Sample App Readme.lnk"});

    // The uninstaller of a machine install starts again elevated too; a
    // refused prompt removes nothing.
    const std::string removal = scratch_ + "\\uninstall.log";
    Rights("refused");
    EXPECT_EQ(Uninstall(HKEY_LOCAL_MACHINE, removal), 1);
    EXPECT_TRUE(PathExists(folder + "\\readme.txt"));
    EXPECT_EQ(Existing(CommonShortcuts()), CommonShortcuts());
    (void)DeleteFileA(removal.c_str());
    Rights("standard");
    EXPECT_EQ(Uninstall(HKEY_LOCAL_MACHINE, removal), 0);
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(folder); })) << folder;
    EXPECT_TRUE(Existing(CommonShortcuts()).empty());
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    std::string removalText;
    ASSERT_TRUE(ReadFileBytes(removal, &removalText));
    EXPECT_EQ(Count(removalText, kRelaunch + "/KXELEVATED /S /LOG=\"" + removal + "\""), 1u) << removalText;

    // The first process's exit code is the second one's: here the folder
    // check fails in the elevated run.
    (void)DeleteFileA(log_.c_str());
    EXPECT_EQ(RunToEnd("sample-app-machine", "/S /LOG=" + log_ + " /D=\\\\server\\share\\App"), 2);
    text = Log();
    EXPECT_NE(text.find(" the run with administrator rights ended with exit code 2\r\n"), std::string::npos) << text;
    EXPECT_EQ(Count(text, " exit code 2\r\n"), 3u) << text;  // the second run's, the report of it, the first's
}

// A refused prompt: nothing is copied out or installed, a box says why, and
// the exit code is 1. A switch the package does not allow is refused as an
// unknown switch is.
TEST_F(ScopeTest, ARefusedPromptOrADisallowedSwitchEndsWithExitCodeOne) {
    Rights("refused");
    EXPECT_EQ(RunToEnd("sample-app-machine", "/S /LOG=" + log_), 1);
    EXPECT_FALSE(sawWindow_);
    EXPECT_TRUE(Workspaces().empty());
    EXPECT_FALSE(PathExists(machineFolder_));
    EXPECT_EQ(Entry(HKEY_LOCAL_MACHINE), "(none)");
    EXPECT_NE(Log().find(" error: the prompt for administrator rights was refused\r\n"), std::string::npos) << Log();

    ASSERT_TRUE(Start("sample-app-machine"));
    HWND box = WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageText(box),
              "Installing for all users of this computer needs administrator rights, which were not given.");
    Click(box, IDOK);
    EXPECT_TRUE(EndsCleanly(1));

    SetEnvironmentVariableA("KXINSTALL_TEST_RIGHTS", nullptr);
    for (const auto& run : std::vector<std::pair<std::string, std::string>>{
             {"sample-app", "/ALLUSERS"}, {"sample-app", "/CURRENTUSER"}, {"sample-app-user", "/ALLUSERS"},
             {"sample-app-machine", "/CURRENTUSER"}}) {
        SCOPED_TRACE(run.first + " " + run.second);
        EXPECT_EQ(RunToEnd(run.first, "/S " + run.second), 1);
        EXPECT_EQ(Entry(HKEY_LOCAL_MACHINE) + Entry(HKEY_CURRENT_USER), "(none)(none)");
    }
    ASSERT_TRUE(Start("sample-app-user", "/ALLUSERS"));
    box = WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageText(box).find("Unknown switch: /ALLUSERS\n\n"), 0u) << MessageText(box);
    Click(box, IDOK);
    EXPECT_TRUE(EndsCleanly(1));
}

// Either, silently: the switches choose.
TEST_F(ScopeTest, EitherFollowsTheSwitchesUnderSilent) {
    Rights("limited");
    ASSERT_EQ(RunToEnd("sample-app-either", "/S /CURRENTUSER /LOG=" + log_), 0) << Log();
    EXPECT_EQ(Entry(HKEY_CURRENT_USER), "\"" + userFolder_ + "\\uninstall.exe\"");
    EXPECT_EQ(Entry(HKEY_LOCAL_MACHINE), "(none)");
    EXPECT_EQ(Count(Log(), kRelaunch), 0u);
    RemoveExampleTraces();

    Rights("standard");
    (void)DeleteFileA(log_.c_str());
    ASSERT_EQ(RunToEnd("sample-app-either", "/S /ALLUSERS /LOG=" + log_), 0) << Log();
    EXPECT_EQ(Entry(HKEY_LOCAL_MACHINE), "\"" + machineFolder_ + "\\uninstall.exe\"");
    EXPECT_EQ(Entry(HKEY_CURRENT_USER), "(none)");
    EXPECT_EQ(Existing(CommonShortcuts()), CommonShortcuts());
    EXPECT_EQ(Count(Log(), kRelaunch), 1u) << Log();
}

// Without scope.txt: an administrator not yet elevated is asked, through a
// second process, as the manifest asked before; a user without rights is
// not. Files, list, shortcuts and entry are the same either way, the list
// without a scope line.
TEST_F(ScopeTest, WithoutAScopeTheInstallationIsAsBefore) {
    const std::string first = scratch_ + "\\First";
    Rights("standard");
    ASSERT_EQ(RunToEnd("sample-app", "/S /LOG=" + log_ + " /D=" + first), 0) << Log();
    EXPECT_EQ(Count(Log(), kRelaunch), 1u) << Log();
    EXPECT_NE(Log().find(" scope: none\r\n"), std::string::npos) << Log();
    std::string expected = Traces(first);
    EXPECT_EQ(expected.find(std::string(kProduct) + "\r\n" + first + "\\"), 0u) << expected;
    EXPECT_EQ(Existing(ExampleShortcuts()), ExampleShortcuts());
    EXPECT_TRUE(Existing(CommonShortcuts()).empty());
    RemoveExampleTraces();

    const std::string second = scratch_ + "\\Second";
    Rights("limited");
    (void)DeleteFileA(log_.c_str());
    ASSERT_EQ(RunToEnd("sample-app", "/S /LOG=" + log_ + " /D=" + second), 0) << Log();
    EXPECT_EQ(Count(Log(), kRelaunch), 0u) << Log();
    for (size_t at = expected.find(first); at != std::string::npos; at = expected.find(first, at)) {
        expected.replace(at, first.size(), second);
    }
    EXPECT_EQ(Traces(second), expected);
}

class EitherPageTest : public ScopeTest {
protected:
    static constexpr int kAllUsers = 1040;
    static constexpr int kJustForMe = 1041;

    HWND OpenFolderPage() {
        HWND wizard = OpenWizard("sample-app-either", "/LOG=" + log_);
        if (wizard == nullptr) return nullptr;
        if (!ClickTo(wizard, ctl::kNext, page::kLicense, kTitle) ||
            !ClickTo(wizard, ctl::kNext, page::kFolder, kTitle)) {
            return nullptr;
        }
        return wizard;
    }
    // As a click on a radio button does: it is checked, the other is not,
    // and the wizard is told.
    static void Choose(HWND wizard, int choice) {
        SetChecked(wizard, kAllUsers, choice == kAllUsers);
        SetChecked(wizard, kJustForMe, choice == kJustForMe);
        Click(wizard, choice);
    }
    testing::AssertionResult ClickTo(HWND wizard, int button, const std::string& name, const std::string& title) {
        Click(wizard, button);
        return ShowsPage(wizard, name, title);
    }
};

// Both choices show, starting on "just for me" for a user without rights;
// the proposed folder follows the choice until the user types one.
TEST_F(EitherPageTest, BothChoicesShowAndTheProposedFolderFollows) {
    Rights("limited");
    HWND wizard = OpenFolderPage();
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ControlVisible(wizard, kAllUsers) && ControlVisible(wizard, kJustForMe));
    EXPECT_EQ(ControlText(wizard, kAllUsers), "Install for all users of this computer");
    EXPECT_EQ(ControlText(wizard, kJustForMe), "Install just for me");
    EXPECT_TRUE(IsChecked(wizard, kJustForMe));
    EXPECT_FALSE(IsChecked(wizard, kAllUsers));
    EXPECT_EQ(ControlText(wizard, ctl::kFolder), userFolder_);
    Choose(wizard, kAllUsers);
    EXPECT_TRUE(WaitUntil([&] { return ControlText(wizard, ctl::kFolder) == machineFolder_; }))
        << ControlText(wizard, ctl::kFolder);
    Choose(wizard, kJustForMe);
    EXPECT_TRUE(WaitUntil([&] { return ControlText(wizard, ctl::kFolder) == userFolder_; }));
    const std::string typed = scratch_ + "\\Typed";
    ASSERT_TRUE(SetControlText(wizard, ctl::kFolder, typed));
    Choose(wizard, kAllUsers);
    Sleep(200);
    EXPECT_EQ(ControlText(wizard, ctl::kFolder), typed);
    ASSERT_TRUE(ClickTo(wizard, ctl::kPrevious, page::kLicense, kTitle));
    EXPECT_FALSE(ControlVisible(wizard, kAllUsers) || ControlVisible(wizard, kJustForMe));
}

// All users for an administrator not yet elevated: a refused prompt shows a
// box and goes back to the page; an accepted one hands over to an elevated
// run on the next page, whose exit code the first run ends with.
TEST_F(EitherPageTest, AllUsersHandsOverToAnElevatedRunAndARefusalGoesBackToThePage) {
    Rights("refused");
    HWND wizard = OpenFolderPage();
    ASSERT_NE(wizard, nullptr);
    EXPECT_TRUE(IsChecked(wizard, kAllUsers));  // an administrator's default
    EXPECT_EQ(ControlText(wizard, ctl::kFolder), machineFolder_);
    Click(wizard, ctl::kNext);
    HWND box = WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageText(box), "Installing for all users of this computer needs administrator rights, which were not "
                                "given.\n\nChoose \"Install just for me\" to install without them.");
    Click(box, IDOK);
    ASSERT_TRUE(ShowsPage(wizard, page::kFolder, kTitle));
    Click(wizard, ctl::kPrevious);
    ASSERT_TRUE(ShowsPage(wizard, page::kLicense, kTitle));
    Close(wizard);
    ASSERT_TRUE(EndsCleanly(0));

    Rights("standard");
    wizard = OpenFolderPage();
    ASSERT_NE(wizard, nullptr);
    const std::string folder = scratch_ + "\\For Everyone";
    ASSERT_TRUE(SetControlText(wizard, ctl::kFolder, folder));
    Click(wizard, ctl::kNext);
    HWND elevated = WaitForDialogCaptioned(kTitle + " - " + page::kShortcuts, ctl::kFolder);
    ASSERT_NE(elevated, nullptr);
    EXPECT_NE(ProcessOf(elevated), installer.ProcessId());
    EXPECT_FALSE(IsWindowVisible(wizard));
    Click(elevated, ctl::kNext);
    ASSERT_TRUE(WaitForCaption(elevated, kTitle + " - " + page::kSummary));
    Click(elevated, ctl::kNext);
    ASSERT_TRUE(WaitUntil([&] { return ControlText(elevated, ctl::kNext) == "Done"; }));
    Click(elevated, ctl::kNext);
    HWND question = WaitForDialogCaptioned(kTitle, IDNO);
    ASSERT_NE(question, nullptr);
    Click(question, IDNO);
    EXPECT_TRUE(EndsCleanly(0));
    EXPECT_EQ(Entry(HKEY_LOCAL_MACHINE), "\"" + folder + "\\uninstall.exe\"");
    EXPECT_EQ(Existing(CommonShortcuts()), CommonShortcuts());
    const std::string text = Log();
    EXPECT_NE(text.find(" command line: /KXELEVATED=ALLUSERS /LOG=\"" + log_ + "\" /D=" + folder + "\r\n"),
              std::string::npos)
        << text;
}

}  // namespace
