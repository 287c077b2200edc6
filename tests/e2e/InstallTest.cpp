// From the summary to the end: the summary's text, the "Install" button,
// the finished page and "Done", which ends the installer, and a cancel
// confirmed while files are placed.

#include "InstallerFixture.h"

using namespace e2e;

namespace {

constexpr char kFinishedText[] = "Installation finished!\n\nClick done to exit.";
constexpr char kCancelQuestion[] = "Are you sure you wish to cancel the installation?";

class InstallTest : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        ASSERT_TRUE(RemoveTree(TargetFolder()));
    }
    void TearDown() override {
        InstallerTest::TearDown();
        (void)RemoveTree(TargetFolder());  // leftovers are removed again by the next SetUp
    }

    // Opens the wizard, chooses the test's target folder and walks to "Shortcuts".
    HWND OpenShortcutsPage(const std::string& package) {
        HWND wizard = OpenWizard(package);
        if (wizard == nullptr) return nullptr;
        EXPECT_TRUE(ClickTo(wizard, ctl::kNext, page::kLicense));
        EXPECT_TRUE(ClickTo(wizard, ctl::kNext, page::kFolder));
        EXPECT_TRUE(SetControlText(wizard, ctl::kFolder, TargetFolder()));
        EXPECT_TRUE(ClickTo(wizard, ctl::kNext, page::kShortcuts));
        return wizard;
    }

    // The same on to "Summary"; without shortcuts when the test installs, so
    // that runs leave no shortcuts in the prefix's user folders.
    HWND OpenSummary(const std::string& package, bool withShortcuts) {
        HWND wizard = OpenShortcutsPage(package);
        if (wizard == nullptr) return nullptr;
        if (!withShortcuts) {
            for (int box : {ctl::kDesktop, ctl::kStartMenu, ctl::kQuickLaunch}) {
                EXPECT_TRUE(SetChecked(wizard, box, false));
            }
        }
        EXPECT_TRUE(ClickTo(wizard, ctl::kNext, page::kSummary));
        return wizard;
    }

    // The finished page as it must look.
    void ExpectFinishedPage(HWND wizard) {
        ASSERT_TRUE(ShowsPage(wizard, page::kFinished));
        EXPECT_TRUE(IsWindowVisible(wizard));
        EXPECT_TRUE(ControlVisible(wizard, ctl::kSummary));
        EXPECT_EQ(ControlText(wizard, ctl::kSummary), kFinishedText);
        EXPECT_TRUE(ControlVisible(wizard, ctl::kNext));
        EXPECT_EQ(ControlText(wizard, ctl::kNext), "Done");
        for (int hidden : {ctl::kPrevious, ctl::kCancel, ctl::kStatus, ctl::kFolder}) {
            EXPECT_FALSE(ControlVisible(wizard, hidden)) << "control " << hidden;
        }
    }
};

TEST_F(InstallTest, SummaryNamesFolderAndEveryTickedShortcutLocationInOrder) {
    HWND wizard = OpenSummary("full", true);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(ControlText(wizard, ctl::kSummary), "The files will be installed to:\n" + TargetFolder() +
                                                      "\n\nShortcuts to create:\n"
                                                      "- In the start menu.\n"
                                                      "- On the desktop.\n"
                                                      "- On the quick start-menu.\n");
}

TEST_F(InstallTest, SummarySaysNoneWhenTheOnlyUsedBoxIsCleared) {
    HWND wizard = OpenShortcutsPage("start-menu-only");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(SetChecked(wizard, ctl::kStartMenu, false));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kSummary));
    EXPECT_EQ(ControlText(wizard, ctl::kSummary),
              "The files will be installed to:\n" + TargetFolder() + "\n\nShortcuts to create:\nNone.");
}

TEST_F(InstallTest, InstallLeadsToFinishedPageAndDoneEndsTheInstaller) {
    HWND wizard = OpenSummary("full", false);
    ASSERT_NE(wizard, nullptr);
    Click(wizard, ctl::kNext);  // "Install"
    ExpectFinishedPage(wizard);
    Click(wizard, ctl::kNext);  // "Done"
    EXPECT_TRUE(EndsCleanly());
}

TEST_F(InstallTest, SeparateProgressWindowGivesWayToFinishedPage) {
    HWND wizard = OpenSummary("separate-progress", false);
    ASSERT_NE(wizard, nullptr);
    Click(wizard, ctl::kNext);  // "Install": the wizard hides while the progress window is up
    ExpectFinishedPage(wizard);
    EXPECT_EQ(installer.FindDialog(DialogKind::kProgress), nullptr);
    Click(wizard, ctl::kNext);  // "Done"
    EXPECT_TRUE(EndsCleanly());
}

// "big" places its 200 MiB noise.bin first, which takes long enough for the
// cancel to be confirmed before the worker reaches readme.txt. Whether
// noise.bin itself was placed depends on when the question opened.
TEST_F(InstallTest, CancelConfirmedWhilePlacingFilesPutsEverythingBack) {
    HWND wizard = OpenSummary("big", false);
    ASSERT_NE(wizard, nullptr);
    Click(wizard, ctl::kNext);  // "Install"
    ASSERT_TRUE(WaitUntil([&] { return ControlVisible(wizard, ctl::kCancel); }, kWaitMs, 1));
    EXPECT_TRUE(ShowsPage(wizard, page::kInstalling));
    EXPECT_FALSE(ControlVisible(wizard, ctl::kNext));
    EXPECT_FALSE(ControlVisible(wizard, ctl::kPrevious));
    EXPECT_TRUE(ControlVisible(wizard, ctl::kStatus));
    Click(wizard, ctl::kCancel);

    HWND question = WaitForMessageBox();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(WindowText(question), pkg::kTitle);
    EXPECT_EQ(MessageText(question), kCancelQuestion);
    ASSERT_TRUE(HasControl(question, IDYES));
    Click(question, IDYES);
    // The cancel question, once answered, is gone before the box comes.
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question); }));
    HWND told = WaitForMessageBox();
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(WindowText(told), pkg::kTitle);
    EXPECT_EQ(MessageText(told), "The installation was cancelled. Nothing was changed.");
    Click(told, IDOK);
    EXPECT_TRUE(EndsCleanly(5));
    EXPECT_FALSE(PathExists(TargetFolder() + "\\readme.txt"));
    EXPECT_FALSE(PathExists(TargetFolder() + "\\data\\noise.bin"));
}

}  // namespace
