#include <map>

#include "TestSupport.h"
#include "install/Installation.h"
#include "resources/ResourceIds.h"
#include "wizard/PageController.h"

namespace {

// A wizard window without a window: remembers what the controller did to it.
class FakeView : public WizardView {
public:
    std::map<int, bool> visible;
    std::map<int, std::string> text;
    std::map<int, bool> checked{{IDC_DESKTOP, true}, {IDC_START_MENU, true}, {IDC_QUICK_LAUNCH, true}};
    std::string caption;
    std::vector<std::string> warnings;
    std::vector<std::string> roots;
    uint64_t freeBytes = 100ull << 30;
    bool freeKnown = true;
    bool ended = false;
    int installations = 0;
    int reveals = 0;
    int finishes = 0;
    std::function<void()> duringInstallation;

    void ShowControl(int id, bool show) override { visible[id] = show; }
    void PlaceControl(int id, int, int, int, int) override { visible[id] = true; }
    void SetControlText(int id, const std::string& value) override { text[id] = value; }
    std::string ControlText(int id) override { return text[id]; }
    bool IsChecked(int id) override { return checked[id]; }
    void SetCaption(const std::string& value) override { caption = value; }
    void ShowWarning(const std::string& warning) override { warnings.push_back(warning); }
    bool CanWriteTo(const std::string& folder) override {
        writeChecks.push_back(folder);
        return writable;
    }
    bool writable = true;
    std::vector<std::string> writeChecks;
    void ShowPageImages(int32_t) override {}
    bool FreeBytes(const std::string& root, uint64_t* bytes) override {
        roots.push_back(root);
        *bytes = freeBytes;
        return freeKnown;
    }
    void EndWizard() override { ended = true; }
    void StartInstallation() override {
        installations += 1;
        if (duringInstallation) duringInstallation();
    }
    void CloseProgressWindow() override {}
    void RevealFinishedPage() override { reveals += 1; }
    void FinishInstaller() override { finishes += 1; }
    std::vector<std::string> elevatedRuns;  // the folder each was given
    int elevatedExitCode = -1;              // -1: the prompt is refused
    int RunForAllUsers(const std::string& folder) override {
        elevatedRuns.push_back(folder);
        return elevatedExitCode;
    }

    bool Shown(int id) { return visible[id]; }
};

class PageControllerTest : public ScratchFolder {
protected:
    InstallerState state;
    FakeView view;

    void SetUp() override {
        ScratchFolder::SetUp();
        SetTitleText(state, "Sample Setup");
        state.welcomeText = "Welcome";
        state.licenseText = "License";
        state.shortcutsDefined = true;
        state.shortcutLocationUsed = {true, true, true};
        view.text[IDC_FOLDER] = "C:\\Program Files\\Sample";
    }
    void Open() {
        state.currentPage = 0;
        state.movingForward = true;
        ShowCurrentPage(state, view);
    }
    void Next() { OnNextButton(state, view); }
    void Previous() { OnPreviousButton(state, view); }
    int32_t Page() const { return state.currentPage; }
    std::string NextCaption() { return view.text[IDC_NEXT]; }
    std::string PreviousCaption() { return view.text[IDC_PREVIOUS]; }
};

TEST_F(PageControllerTest, WalksEveryPageWithItsControlsAndCaptions) {
    Open();
    EXPECT_EQ(0, Page());
    EXPECT_EQ("Sample Setup - Welcome", view.caption);
    EXPECT_EQ("Welcome", view.text[IDC_TEXT]);
    EXPECT_TRUE(view.Shown(IDC_TEXT));
    EXPECT_FALSE(view.Shown(IDC_FOLDER));
    EXPECT_EQ("Next", NextCaption());
    EXPECT_EQ("Exit", PreviousCaption());

    Next();
    EXPECT_EQ("Sample Setup - License Agreement", view.caption);
    EXPECT_EQ("License", view.text[IDC_TEXT]);
    EXPECT_TRUE(view.Shown(IDC_LICENSE_PROMPT));
    EXPECT_EQ("I Agree", NextCaption());
    EXPECT_EQ("I Disagree", PreviousCaption());

    Next();
    EXPECT_EQ("Sample Setup - Installation Directory", view.caption);
    for (int id : {IDC_FOLDER, IDC_BROWSE, IDC_FOLDER_PROMPT, IDC_DISK_SPACE}) EXPECT_TRUE(view.Shown(id)) << id;
    EXPECT_FALSE(view.Shown(IDC_TEXT));
    EXPECT_FALSE(view.Shown(IDC_LICENSE_PROMPT));
    EXPECT_EQ("Previous", PreviousCaption());

    Next();
    EXPECT_EQ("Sample Setup - Shortcuts", view.caption);
    for (int id : {IDC_DESKTOP, IDC_START_MENU, IDC_QUICK_LAUNCH}) EXPECT_TRUE(view.Shown(id)) << id;
    EXPECT_FALSE(view.Shown(IDC_FOLDER));

    Next();
    EXPECT_EQ("Sample Setup - Summary", view.caption);
    EXPECT_TRUE(view.Shown(IDC_SUMMARY));
    EXPECT_FALSE(view.Shown(IDC_DESKTOP));
    EXPECT_EQ("Install", NextCaption());
    EXPECT_EQ(0, view.installations);

    Next();
    EXPECT_EQ(5, Page());
    EXPECT_EQ(1, view.installations);
    for (int id : {IDC_STATUS, IDC_PROGRESS_PLAIN, IDC_CANCEL}) EXPECT_TRUE(view.Shown(id)) << id;
    for (int id : {IDC_NEXT, IDC_PREVIOUS, IDC_SUMMARY, IDC_PROGRESS_SMOOTH}) EXPECT_FALSE(view.Shown(id)) << id;
    Next();  // hidden buttons do nothing while files are placed
    Previous();
    EXPECT_EQ(5, Page());

    OnInstallationFinished(state, view);
    EXPECT_EQ(6, Page());
    EXPECT_EQ("Sample Setup - Installation finished", view.caption);
    EXPECT_EQ("Installation finished!\n\nClick done to exit.", view.text[IDC_SUMMARY]);
    EXPECT_TRUE(view.Shown(IDC_SUMMARY));
    EXPECT_TRUE(view.Shown(IDC_NEXT));
    EXPECT_FALSE(view.Shown(IDC_PREVIOUS));
    EXPECT_FALSE(view.Shown(IDC_CANCEL));
    EXPECT_EQ("Done", NextCaption());
    EXPECT_EQ(1, view.reveals);
    EXPECT_EQ(0, view.finishes);
    Next();
    EXPECT_EQ(1, view.finishes);
    EXPECT_FALSE(view.ended);
}

class ScopeChoiceTest : public PageControllerTest {
protected:
    void SetUp() override {
        PageControllerTest::SetUp();
        state.scopeSetting = ScopeSetting::Either;
        state.scope = Scope::Machine;
        state.defaultFolderTemplate = "%program files%\\Sample";
        machineFolder = platform::GetSpecialFolderPath(platform::kFolderProgramFiles) + "\\Sample";
        userFolder = platform::GetSpecialFolderPath(platform::kFolderUserProgramFiles) + "\\Sample";
        view.text[IDC_FOLDER] = machineFolder;
        view.checked[IDC_ALL_USERS] = true;
    }
    void Choose(Scope scope) {
        view.checked[IDC_ALL_USERS] = scope == Scope::Machine;
        view.checked[IDC_JUST_FOR_ME] = scope == Scope::User;
        OnScopeChoice(state, view);
    }
    void OpenFolderPage() {
        Open();
        Next();
        Next();
        ASSERT_EQ(kPageFolder, Page());
    }
    std::string machineFolder;
    std::string userFolder;
};

// Both choices show on the folder page only, and the proposed folder
// follows the choice until the user types one.
TEST_F(ScopeChoiceTest, TheFolderPageOffersBothAndTheProposedFolderFollows) {
    OpenFolderPage();
    EXPECT_TRUE(view.Shown(IDC_ALL_USERS) && view.Shown(IDC_JUST_FOR_ME));
    Choose(Scope::User);
    EXPECT_EQ(Scope::User, state.scope);
    EXPECT_EQ(userFolder, view.text[IDC_FOLDER]);
    Choose(Scope::Machine);
    EXPECT_EQ(machineFolder, view.text[IDC_FOLDER]);
    view.text[IDC_FOLDER] = "D:\\Mine";
    Choose(Scope::User);
    EXPECT_EQ("D:\\Mine", view.text[IDC_FOLDER]);
    EXPECT_EQ(Scope::User, state.scope);
    EXPECT_EQ(platform::kFolderUserProgramFiles, state.macroTable.programFilesFolder);
    Next();
    EXPECT_FALSE(view.Shown(IDC_ALL_USERS) || view.Shown(IDC_JUST_FOR_ME));
    EXPECT_TRUE(view.elevatedRuns.empty());  // just for me needs no rights

    // A package whose scope a switch decided, or one without the choice, shows none.
    for (const ScopeSetting setting : {ScopeSetting::Either, ScopeSetting::User, ScopeSetting::Absent}) {
        state.scopeSetting = setting;
        state.scopeDecided = setting == ScopeSetting::Either;
        OpenFolderPage();
        EXPECT_FALSE(view.Shown(IDC_ALL_USERS) || view.Shown(IDC_JUST_FOR_ME));
    }
}

// All users without the rights: Next hands over to an elevated run with the
// folder, and the wizard ends with its exit code; a refused prompt stays.
TEST_F(ScopeChoiceTest, AllUsersWithoutRightsHandsOverAndARefusedPromptStaysOnThePage) {
    state.rights = platform::ProcessRights::CanElevate;
    OpenFolderPage();
    Next();
    EXPECT_EQ(kPageFolder, Page());
    ASSERT_EQ(1u, view.warnings.size());
    EXPECT_NE(std::string::npos, view.warnings[0].find("administrator rights"));
    EXPECT_EQ((std::vector<std::string>{machineFolder}), view.elevatedRuns);
    EXPECT_FALSE(view.ended);

    view.elevatedExitCode = 3;
    view.text[IDC_FOLDER] = "D:\\Everyone";
    Next();
    EXPECT_EQ("D:\\Everyone", view.elevatedRuns.back());
    EXPECT_TRUE(view.ended);
    EXPECT_EQ(3, state.elevatedExitCode);

    // Elevated already, or just for me: the wizard goes on here.
    for (const auto rights : {platform::ProcessRights::Elevated, platform::ProcessRights::Limited}) {
        state.rights = rights;
        state.scope = rights == platform::ProcessRights::Elevated ? Scope::Machine : Scope::User;
        view.elevatedRuns.clear();
        OpenFolderPage();
        Next();
        EXPECT_EQ(kPageShortcuts, Page());
        EXPECT_TRUE(view.elevatedRuns.empty());
    }
}

TEST_F(PageControllerTest, TheFinishedPageIsSetUpOnceEvenInsideTheProgressWindow) {
    state.separateProgressWindow = true;
    // The completion arrives while the separate progress window's loop runs.
    view.duringInstallation = [this] { OnInstallationFinished(state, view); };
    Open();
    for (int i = 0; i < 5; ++i) Next();
    EXPECT_EQ(6, Page());
    EXPECT_EQ(1, view.reveals);
    EXPECT_EQ("Done", NextCaption());
    EXPECT_TRUE(view.Shown(IDC_NEXT));
    OnInstallationFinished(state, view);
    EXPECT_EQ(1, view.reveals);
}

TEST_F(PageControllerTest, TheFinishedPageNamesWhatWasNotInstalled) {
    state.missingItems = {"C:\\App\\a.dll", "the shortcut C:\\Menu\\App.lnk"};
    view.duringInstallation = [this] { OnInstallationFinished(state, view); };
    Open();
    for (int i = 0; i < 5; ++i) Next();
    EXPECT_EQ("Installation finished, but these items were not installed:\nC:\\App\\a.dll\n"
              "the shortcut C:\\Menu\\App.lnk\n\nClick done to exit.",
              view.text[IDC_SUMMARY]);
    EXPECT_EQ(3, FinishedExitCode(state));
    state.missingItems.clear();
    EXPECT_EQ(0, FinishedExitCode(state));
}

TEST(FinishedText, ShowsFiveItemsAndCountsTheRest) {
    EXPECT_EQ("Installation finished!\n\nClick done to exit.", FinishedText({}));
    const std::vector<std::string> five = {"1", "2", "3", "4", "5"};
    EXPECT_EQ("Installation finished, but these items were not installed:\n1\n2\n3\n4\n5\n\nClick done to exit.",
              FinishedText(five));
    std::vector<std::string> seven = five;
    seven.insert(seven.end(), {"6", "7"});
    EXPECT_EQ("Installation finished, but these items were not installed:\n1\n2\n3\n4\n5\nand 2 more\n\n"
              "Click done to exit.",
              FinishedText(seven));
}

TEST_F(PageControllerTest, WithoutTextsTheWizardOpensOnTheFolderPageAndExitEndsIt) {
    state.welcomeText.clear();
    state.licenseText.clear();
    Open();
    EXPECT_EQ(2, Page());
    EXPECT_EQ("Exit", PreviousCaption());
    Previous();
    EXPECT_TRUE(view.ended);
    EXPECT_LT(Page(), 0);
}

TEST_F(PageControllerTest, EmptyPagesAreSkippedInTheDirectionOfTravel) {
    state.licenseText.clear();
    Open();
    Next();
    EXPECT_EQ(2, Page());
    Previous();
    EXPECT_EQ(0, Page());
    EXPECT_EQ("Welcome", view.text[IDC_TEXT]);
    Previous();
    EXPECT_TRUE(view.ended);
}

TEST_F(PageControllerTest, DisagreeingReturnsToWelcomeOrExitsWithoutIt) {
    Open();
    Next();
    Previous();
    EXPECT_EQ(0, Page());
    EXPECT_FALSE(view.Shown(IDC_LICENSE_PROMPT));
    EXPECT_FALSE(view.ended);

    state.welcomeText.clear();
    FakeView fresh;
    fresh.text[IDC_FOLDER] = "C:\\x";
    state.currentPage = 0;
    state.movingForward = true;
    ShowCurrentPage(state, fresh);
    EXPECT_EQ(1, Page());
    EXPECT_EQ("Exit", fresh.text[IDC_PREVIOUS]);
    OnPreviousButton(state, fresh);
    EXPECT_TRUE(fresh.ended);
}

TEST_F(PageControllerTest, WithoutShortcutsPageThreeIsNeverShown) {
    state.shortcutsDefined = false;
    state.shortcutLocationUsed = {false, false, false};
    Open();
    Next();
    Next();
    Next();
    EXPECT_EQ(4, Page());
    EXPECT_EQ("The files will be installed to:\nC:\\Program Files\\Sample", view.text[IDC_SUMMARY]);
    Previous();
    EXPECT_EQ(2, Page());
}

TEST_F(PageControllerTest, SummaryListsTickedAndUsedLocationsInOrder) {
    const std::string head = "The files will be installed to:\nD:\\App\n\nShortcuts to create:\n";
    EXPECT_EQ(head + "- In the start menu.\n- On the desktop.\n- On the quick start-menu.\n",
              BuildSummary(state, "D:\\App", true, true, true));
    state.shortcutLocationUsed = {false, true, false};
    EXPECT_EQ(head + "None.", BuildSummary(state, "D:\\App", false, true, true));
    EXPECT_EQ(head + "- In the start menu.\n", BuildSummary(state, "D:\\App", true, true, true));
    EXPECT_EQ(259u + 32, BuildSummary(InstallerState(), std::string(400, 'f'), false, false, false).size());
}

TEST_F(PageControllerTest, TheFolderCheckSendsTheUserBackToTheFolderPage) {
    state.neededMegabytes = 10;
    Open();
    Next();
    Next();
    view.text[IDC_FOLDER] = "C";
    Next();
    EXPECT_EQ(2, Page());
    ASSERT_EQ(1u, view.warnings.size());
    EXPECT_EQ("You have to enter a valid install path before continuing.", view.warnings[0]);

    view.text[IDC_FOLDER] = "E:\\Apps";
    view.freeBytes = 10ull * 1048576;  // exactly what is needed: not enough
    Next();
    EXPECT_EQ(2, Page());
    ASSERT_EQ(2u, view.warnings.size());
    EXPECT_EQ("There isn't enough free disk space on drive E.\nPlease free some disk space and try again.",
              view.warnings[1]);
    EXPECT_EQ("E:", view.roots.back());

    view.freeBytes = 11ull * 1048576;
    Next();
    Next();
    EXPECT_EQ(4, Page());
    // Space runs out meanwhile: going back checks again.
    view.freeBytes = 0;
    Previous();
    EXPECT_EQ(2, Page());
    EXPECT_EQ(3u, view.warnings.size());
}

// Lengths and the drive are counted in characters, not in UTF-8 bytes.
TEST_F(PageControllerTest, TheFolderChecksCountCharacters) {
    const std::string japanese = "\xE6\x97\xA5";  // one character of three bytes
    view.text[IDC_FOLDER] = japanese;
    EXPECT_FALSE(CheckInstallFolder(state, view));
    EXPECT_EQ("You have to enter a valid install path before continuing.", view.warnings.back());
    view.text[IDC_FOLDER] = japanese + japanese;
    view.freeBytes = 0;
    EXPECT_FALSE(CheckInstallFolder(state, view));
    EXPECT_EQ(japanese + japanese, view.roots.back());
    EXPECT_EQ("There isn't enough free disk space on drive " + japanese + ".\nPlease free some disk space and try again.",
              view.warnings.back());
}

TEST_F(PageControllerTest, AnUnknownDriveHasNoFreeSpace) {
    view.text[IDC_FOLDER] = "\\\\server\\share";
    view.freeKnown = false;
    EXPECT_FALSE(CheckInstallFolder(state, view));
    EXPECT_EQ("\\\\", view.roots.back());
    EXPECT_EQ(0, state.availableMegabytes);
    EXPECT_EQ("There isn't enough free disk space on drive \\.\nPlease free some disk space and try again.",
              view.warnings.back());
    // An empty payload still needs more than nothing.
    view.freeKnown = true;
    view.freeBytes = 1048575;
    state.neededMegabytes = 0;
    EXPECT_FALSE(CheckInstallFolder(state, view));
}

TEST_F(PageControllerTest, TheDiskSpaceLabelFollowsTheFolderField) {
    state.neededMegabytes = 3;
    view.freeBytes = 5ull * 1048576 + 17;
    view.text[IDC_FOLDER] = "";
    OnFolderTimer(state, view);
    EXPECT_TRUE(view.roots.empty());  // nothing typed yet
    view.text[IDC_FOLDER] = "D:\\Games";
    OnFolderTimer(state, view);
    EXPECT_EQ("Disk space needed: 3 MB\nAvailable disk space: 5 MB", view.text[IDC_DISK_SPACE]);
    OnFolderTimer(state, view);
    EXPECT_EQ(1u, view.roots.size());  // unchanged text is not recomputed
}

TEST_F(PageControllerTest, CaptionsKeepTheSeparatorWithAnEmptyTitle) {
    SetTitleText(state, "");
    Open();
    EXPECT_EQ(" - Welcome", view.caption);
    EXPECT_EQ(" - Installation finished", PageCaption("", 6));
}

TEST_F(PageControllerTest, TheSmoothBarIsChosenByIndexOne) {
    EXPECT_EQ(IDC_PROGRESS_PLAIN, SelectedProgressBar(state));
    state.progressBarIndex = 1;
    EXPECT_EQ(IDC_PROGRESS_SMOOTH, SelectedProgressBar(state));
    state.progressBarIndex = 7;
    EXPECT_EQ(IDC_PROGRESS_PLAIN, SelectedProgressBar(state));
}

TEST_F(PageControllerTest, TheCancelQuestionHoldsTheWorkerWhileItIsOpen) {
    bool openWhileAsked = false;
    ConfirmCancel(state, [&](const std::string& question) {
        openWhileAsked = state.cancelPromptOpen;
        EXPECT_EQ("Are you sure you wish to cancel the installation?", question);
        return false;
    });
    EXPECT_TRUE(openWhileAsked);
    EXPECT_FALSE(state.cancelPromptOpen);
    EXPECT_FALSE(state.cancelRequested);
    ConfirmCancel(state, [](const std::string&) { return true; });
    EXPECT_TRUE(state.cancelRequested);
}

}  // namespace

namespace {

TEST_F(PageControllerTest, AnUnwritableFolderSendsTheUserBackAfterTheOtherChecks) {
    state.neededMegabytes = 1;
    view.freeBytes = 100ull * 1048576;
    view.writable = false;
    view.text[IDC_FOLDER] = "C";
    EXPECT_FALSE(CheckInstallFolder(state, view));
    EXPECT_TRUE(view.writeChecks.empty());  // the path check comes first
    view.text[IDC_FOLDER] = "C:\\Program Files\\Sample";
    EXPECT_FALSE(CheckInstallFolder(state, view));
    EXPECT_EQ("You can't write to the folder C:\\Program Files\\Sample.\nChoose another folder, or start the "
              "installer as an administrator.",
              view.warnings.back());
    EXPECT_EQ("C:\\Program Files\\Sample", view.writeChecks.back());
    view.writable = true;
    EXPECT_TRUE(CheckInstallFolder(state, view));
}

// The real check: a folder that does not exist yet is judged by its nearest
// existing ancestor, and nothing is created or left behind either way.
TEST_F(PageControllerTest, TheWriteCheckCreatesNothingAndLeavesNothing) {
    std::vector<platform::FolderEntry> before;
    ASSERT_TRUE(platform::ListFolder(Folder().c_str(), &before));
    EXPECT_TRUE(CanCreateFileIn(Folder()));
    EXPECT_TRUE(CanCreateFileIn(Path("not\\there\\yet")));
    EXPECT_FALSE(platform::PathExists(Path("not").c_str()));
    std::vector<platform::FolderEntry> after;
    ASSERT_TRUE(platform::ListFolder(Folder().c_str(), &after));
    EXPECT_EQ(before.size(), after.size());
    EXPECT_FALSE(CanCreateFileIn(""));
}

}  // namespace

#ifndef _WIN32
#include <unistd.h>

#include <cstdlib>

namespace {

// A read-only file system refuses even the superuser, so the check is tried
// on a small read-only tmpfs; unmounted on every way out.
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(const std::string& folder) : folder_(folder) {
        mounted_ = platform::CreateFolder(folder.c_str()) &&
                   std::system(("mount -t tmpfs -o ro,size=64k tmpfs '" + folder + "' 2>/dev/null").c_str()) == 0;
    }
    ~ReadOnlyMount() {
        if (mounted_) (void)std::system(("umount '" + folder_ + "'").c_str());
    }
    bool Mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

TEST_F(PageControllerTest, AFolderOnAReadOnlyDriveIsNotWritable) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a read-only tmpfs needs root (CI runs as root)";
    ReadOnlyMount drive(Path("readonly"));
    ASSERT_TRUE(drive.Mounted()) << "mount -t tmpfs -o ro failed";
    EXPECT_FALSE(CanCreateFileIn(Path("readonly")));
    EXPECT_FALSE(CanCreateFileIn(Path("readonly/App/bin")));
    EXPECT_TRUE(CanCreateFileIn(Folder()));
}

}  // namespace
#endif
